#include "platform/Defaults.h"

#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>

#include <cerrno>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kovra {
namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("Defaults"));
    return logger;
}

QString errnoText() { return qt_error_string(errno); }
QByteArray nativePath(const QString &path) { return QFile::encodeName(path); }

// ---- Values -------------------------------------------------------------

bool removes(const QVariant &v) { return !v.isValid() || v.metaType().id() == QMetaType::Nullptr; }

// The stored form of a value: one of the seven stored types, or invalid when the
// value has no sensible stored form.
QVariant normalized(const QVariant &v)
{
    switch (v.metaType().id()) {
    case QMetaType::Bool: case QMetaType::LongLong: case QMetaType::Double: case QMetaType::QString:
    case QMetaType::QStringList: case QMetaType::QByteArray:
        return v;
    case QMetaType::QDateTime: // as the file keeps it
        return QVariant(v.toDateTime().toUTC());
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::Short: case QMetaType::UShort:
    case QMetaType::Char: case QMetaType::SChar: case QMetaType::UChar: case QMetaType::Long:
        return QVariant::fromValue(v.toLongLong());
    case QMetaType::ULong: case QMetaType::ULongLong: {
        const qulonglong u = v.toULongLong();
        return u <= qulonglong(std::numeric_limits<qint64>::max()) ? QVariant::fromValue(qint64(u))
                                                                    : QVariant(double(u));
    }
    case QMetaType::Float:
        return QVariant(v.toDouble());
    case QMetaType::QDate:
        return QVariant(v.toDate().startOfDay(Qt::UTC));
    case QMetaType::QVariantList: case QMetaType::QByteArrayList:
        return QVariant(v.toStringList());
    default:
        return v.canConvert<QString>() ? QVariant(v.toString()) : QVariant();
    }
}

// Every value is stored as {"type": <tag>, "value": <JSON>} so that it reads back
// with the type it was stored with.
QJsonObject encode(const QVariant &v)
{
    const auto tagged = [](const char *type, const QJsonValue &value) {
        return QJsonObject{{QStringLiteral("type"), QLatin1String(type)}, {QStringLiteral("value"), value}};
    };
    switch (v.metaType().id()) {
    case QMetaType::Bool:
        return tagged("bool", v.toBool());
    case QMetaType::LongLong:
        return tagged("integer", v.toLongLong());
    case QMetaType::Double: {
        const double d = v.toDouble(); // JSON has no NaN or infinities: those go as text
        return tagged("double", std::isfinite(d) ? QJsonValue(d) : QJsonValue(QString::number(d)));
    }
    case QMetaType::QStringList:
        return tagged("stringList", QJsonArray::fromStringList(v.toStringList()));
    case QMetaType::QByteArray:
        return tagged("data", QString::fromLatin1(v.toByteArray().toBase64()));
    case QMetaType::QDateTime:
        return tagged("date", v.toDateTime().toUTC().toString(Qt::ISODateWithMs));
    default:
        return tagged("string", v.toString());
    }
}

// The value of one stored entry; invalid when the entry is not one we understand.
QVariant decode(const QJsonValue &entry)
{
    const QJsonObject o = entry.toObject();
    const QString type = o.value(QLatin1String("type")).toString();
    const QJsonValue v = o.value(QLatin1String("value"));
    if (type == QLatin1String("bool") && v.isBool())
        return v.toBool();
    if (type == QLatin1String("integer") && v.toVariant().metaType().id() == QMetaType::LongLong)
        return QVariant::fromValue(v.toInteger());
    if (type == QLatin1String("double") && (v.isDouble() || v.isString())) {
        bool ok = v.isDouble();
        const double d = ok ? v.toDouble() : v.toString().toDouble(&ok);
        return ok ? QVariant(d) : QVariant();
    }
    if (type == QLatin1String("string") && v.isString())
        return v.toString();
    if (type == QLatin1String("stringList") && v.isArray()) {
        QStringList list;
        for (const QJsonValue item : v.toArray()) {
            if (!item.isString())
                return {};
            list.append(item.toString());
        }
        return list;
    }
    if (type == QLatin1String("data") && v.isString()) {
        auto bytes = QByteArray::fromBase64Encoding(v.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        return bytes ? QVariant(*bytes) : QVariant();
    }
    if (type == QLatin1String("date") && v.isString()) {
        const QDateTime date = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
        return date.isValid() || v.toString().isEmpty() ? QVariant(date) : QVariant();
    }
    return {};
}

// ---- Files --------------------------------------------------------------

// What identifies one version of the file: every write renames a new file in
// place, so the inode, size or modification time (in nanoseconds) changes.
struct Stamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    qint64 mtimeNs = 0;
    bool operator==(const Stamp &) const = default;

    static Stamp of(const struct stat &st)
    {
        return {true, st.st_dev, st.st_ino, st.st_size, qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
    }
};

// An exclusive flock on the suite's lock file, held while it lives.
class FileLock {
public:
    explicit FileLock(const QString &path)
        : m_fd(::open(nativePath(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600))
    {
        int rc = m_fd < 0 ? -1 : 0;
        while (m_fd >= 0 && (rc = ::flock(m_fd, LOCK_EX)) != 0 && errno == EINTR) {}
        if (rc != 0) {
            m_error = errnoText();
            release();
        }
    }
    ~FileLock() { release(); }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    bool ok() const { return m_fd >= 0; }
    QString error() const { return m_error; }

private:
    void release()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int m_fd;
    QString m_error;
};

enum class ReadResult { Ok, Unparsable, Failed };

// Reads the file; a missing or empty file reads as an empty object.
ReadResult readFile(const QString &path, QJsonObject &contents, Stamp &stamp, QString &error)
{
    contents = {};
    stamp = {};
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const bool missing = errno == ENOENT;
        error = errnoText();
        return missing ? ReadResult::Ok : ReadResult::Failed;
    }
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    QFile file;
    if (!regular || !file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        error = regular ? file.errorString() : QStringLiteral("not a regular file");
        ::close(fd);
        return ReadResult::Failed;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFile::NoError) {
        error = file.errorString();
        return ReadResult::Failed;
    }
    stamp = Stamp::of(st);
    if (bytes.isEmpty())
        return ReadResult::Ok;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return ReadResult::Unparsable;
    contents = document.object();
    return ReadResult::Ok;
}

// Keeps an unparsable file for inspection instead of deleting it. Called under the
// file lock, so that only one process moves a given file.
bool moveAside(const QString &path)
{
    QString error;
    const auto target = files::moveAside(path, Clock::system()->now(), &error);
    if (!target) {
        log().error(QStringLiteral("Defaults file %1 does not parse and cannot be moved aside: %2").arg(path, error));
        return false;
    }
    log().error(QStringLiteral("Defaults file %1 does not parse; moved it aside to %2").arg(path, *target));
    return true;
}

// Replaces the file atomically. Its modification time is set past the replaced
// file's, so readers see a new version even when the size and a reused inode number
// match an earlier one.
bool writeFile(const QString &path, const QByteArray &bytes, const Stamp &replaced, Stamp &stamp, QString &error)
{
    files::AtomicWriteOptions options;
    options.mtimeAfterNs = replaced.mtimeNs;
    options.uniqueTemporary = false; // written under the suite's lock
    struct stat st;
    if (!files::writeAtomically(path, bytes, &error, options, &st))
        return false;
    stamp = Stamp::of(st);
    return true;
}

// ---- Store --------------------------------------------------------------

// One store over one file (or over nothing, in memory). Changes are written at
// once under the file lock: the writer rereads the file and replaces only the keys
// this process changed, so concurrent writers of different keys never lose each
// other's values. Readers check the file's stamp at every read.
class Store final : public Defaults {
public:
    explicit Store(QString path = {}) : m_path(std::move(path)) {}

    bool open(QString &error)
    {
        const QString folder = QFileInfo(m_path).path();
        if (!files::makeFolders(folder)) {
            error = QStringLiteral("cannot create %1").arg(folder);
            return false;
        }
        const FileLock lock(lockPath());
        if (!lock.ok()) {
            error = lock.error();
            return false;
        }
        return reload(lock, error);
    }

    QVariant object(const QString &key) const override
    {
        QMutexLocker locker(&m_mutex);
        refresh();
        return m_values.value(key);
    }

    void setObject(const QString &key, const QVariant &value) override { setObjects({{key, value}}); }

    void remove(const QString &key) override { setObject(key, QVariant()); }

    bool setObjects(const QList<Change> &changes) override
    {
        QList<Change> stored;
        stored.reserve(changes.size());
        for (const auto &[key, value] : changes) {
            QVariant v;
            if (!removes(value) && !(v = normalized(value)).isValid()) {
                log().error(QStringLiteral("Cannot store a value of type %1 under \"%2\"%3")
                                .arg(QLatin1String(value.typeName()), key,
                                     changes.size() > 1 ? QStringLiteral("; none of the %1 changes is stored").arg(changes.size())
                                                        : QString()));
                return false;
            }
            stored.append({key, v});
        }
        QMutexLocker locker(&m_mutex);
        if (stored.isEmpty() && m_pending.isEmpty())
            return true;
        for (const auto &[key, v] : std::as_const(stored)) {
            if (v.isValid())
                m_values.insert(key, v);
            else
                m_values.remove(key);
            m_pending.insert(key, v);
        }
        return flush();
    }

    QStringList keys() const override
    {
        QMutexLocker locker(&m_mutex);
        refresh();
        QStringList list = m_values.keys();
        list.sort();
        return list;
    }

    bool synchronize() override
    {
        QMutexLocker locker(&m_mutex);
        return m_pending.isEmpty() ? refresh() : flush();
    }

private:
    QString lockPath() const { return m_path + QStringLiteral(".lock"); }

    // Rereads the file when another writer replaced it since we last looked.
    bool refresh() const
    {
        if (m_path.isEmpty())
            return true;
        struct stat st;
        const Stamp now = ::stat(nativePath(m_path).constData(), &st) == 0 ? Stamp::of(st) : Stamp{};
        if (now == m_stamp)
            return true;
        const FileLock lock(lockPath());
        QString error;
        return reload(lock, error);
    }

    // Reads the file (an unparsable one is moved aside, which needs the lock).
    bool reload(const FileLock &lock, QString &error) const
    {
        QJsonObject contents;
        Stamp stamp;
        switch (readFile(m_path, contents, stamp, error)) {
        case ReadResult::Failed:
            return false;
        case ReadResult::Unparsable: // read as empty; while it cannot be moved, look again only when it changes
            if (lock.ok() && moveAside(m_path))
                stamp = {};
            break;
        case ReadResult::Ok:
            break;
        }
        adopt(contents, stamp);
        return true;
    }

    // Writes our pending changes over the file's current contents.
    bool flush()
    {
        if (m_path.isEmpty()) {
            m_pending.clear();
            return true;
        }
        const FileLock lock(lockPath());
        QString error = lock.error();
        QJsonObject contents;
        Stamp replaced, stamp;
        bool ok = lock.ok();
        if (ok) {
            const ReadResult read = readFile(m_path, contents, replaced, error);
            ok = read == ReadResult::Ok || (read == ReadResult::Unparsable && moveAside(m_path));
        }
        if (ok) {
            for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
                if (it.value().isValid())
                    contents.insert(it.key(), encode(it.value()));
                else
                    contents.remove(it.key());
            }
            ok = writeFile(m_path, QJsonDocument(contents).toJson(), replaced, stamp, error);
        }
        if (!ok) {
            log().error(QStringLiteral("Cannot write defaults file %1: %2").arg(m_path, error));
            return false;
        }
        m_pending.clear();
        adopt(contents, stamp);
        return true;
    }

    // Takes the file's values as the current view, with our unwritten changes on top.
    void adopt(const QJsonObject &contents, const Stamp &stamp) const
    {
        m_values.clear();
        for (auto it = contents.begin(); it != contents.end(); ++it) {
            const QVariant value = decode(it.value());
            if (value.isValid())
                m_values.insert(it.key(), value);
        }
        for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
            if (it.value().isValid())
                m_values.insert(it.key(), it.value());
            else
                m_values.remove(it.key());
        }
        m_stamp = stamp;
    }

    const QString m_path; // empty: in memory
    mutable QMutex m_mutex;
    mutable QHash<QString, QVariant> m_values;
    QHash<QString, QVariant> m_pending; // changed, not yet written; invalid = removed
    mutable Stamp m_stamp;
};

struct Registry {
    QMutex mutex;
    QHash<QString, std::shared_ptr<Store>> suites; // by file path
    QHash<QString, std::shared_ptr<Defaults>> memoryStandards; // by config folder
};

Registry &registry()
{
    static auto *r = new Registry; // never destroyed: stores may be used during exit
    return *r;
}

} // namespace

std::shared_ptr<Defaults> Defaults::suite(const PlatformPaths &paths, const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/'))
        || name.contains(QChar(0))) {
        log().error(QStringLiteral("Cannot open defaults suite \"%1\": not a valid name").arg(name));
        return nullptr;
    }
    if (!QDir::isAbsolutePath(paths.configHome)) {
        log().error(QStringLiteral("Cannot open defaults suite \"%1\": no absolute config folder (\"%2\")")
                        .arg(name, paths.configHome));
        return nullptr;
    }
    const QString path = QDir::cleanPath(paths.configFolder() + QLatin1Char('/') + name + QStringLiteral(".json"));
    auto &r = registry();
    QMutexLocker locker(&r.mutex);
    if (auto store = r.suites.value(path))
        return store;
    auto store = std::make_shared<Store>(path);
    QString error;
    if (!store->open(error)) {
        log().error(QStringLiteral("Cannot open defaults suite %1: %2").arg(path, error));
        return nullptr;
    }
    r.suites.insert(path, store);
    return store;
}

std::shared_ptr<Defaults> Defaults::standard(const PlatformPaths &paths)
{
    const QString name = QStringLiteral("standard");
    if (auto store = suite(paths, name))
        return store;
    auto &r = registry();
    QMutexLocker locker(&r.mutex);
    auto &memory = r.memoryStandards[QDir::cleanPath(paths.configFolder())];
    if (!memory) {
        log().error(QStringLiteral("Standard defaults unavailable; keeping them in memory"));
        memory = inMemory();
    }
    return memory;
}

std::shared_ptr<Defaults> Defaults::inMemory() { return std::make_shared<Store>(); }

bool Defaults::removeKeys(const QStringList &keys)
{
    QList<Change> changes;
    changes.reserve(keys.size());
    for (const QString &key : keys)
        changes.append({key, QVariant()});
    return setObjects(changes);
}

// ---- Typed reads --------------------------------------------------------

template<typename T>
static std::optional<T> ifType(const QVariant &v, QMetaType::Type type)
{
    return v.metaType().id() == type ? std::optional<T>(v.value<T>()) : std::nullopt;
}

std::optional<bool> Defaults::boolean(const QString &key) const { return ifType<bool>(object(key), QMetaType::Bool); }
std::optional<QString> Defaults::string(const QString &key) const { return ifType<QString>(object(key), QMetaType::QString); }
std::optional<QByteArray> Defaults::data(const QString &key) const { return ifType<QByteArray>(object(key), QMetaType::QByteArray); }
std::optional<QDateTime> Defaults::date(const QString &key) const { return ifType<QDateTime>(object(key), QMetaType::QDateTime); }

std::optional<QStringList> Defaults::stringList(const QString &key) const
{
    return ifType<QStringList>(object(key), QMetaType::QStringList);
}

std::optional<qint64> Defaults::integer(const QString &key) const
{
    const QVariant v = object(key);
    if (const auto d = ifType<double>(v, QMetaType::Double))
        return std::trunc(*d) == *d && *d >= -0x1p63 && *d < 0x1p63 ? std::optional<qint64>(qint64(*d)) : std::nullopt;
    return ifType<qint64>(v, QMetaType::LongLong);
}

std::optional<double> Defaults::number(const QString &key) const
{
    const QVariant v = object(key);
    if (const auto i = ifType<qint64>(v, QMetaType::LongLong))
        return double(*i);
    return ifType<double>(v, QMetaType::Double);
}

} // namespace kovra
