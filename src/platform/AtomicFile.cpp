#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace kovra::files {
namespace {

QString errnoText(int code) { return qt_error_string(code); }
QByteArray nativePath(const QString &path) { return QFile::encodeName(path); }

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

bool makeFolders(const QString &path, mode_t mode)
{
    const QString clean = QDir::cleanPath(path);
    if (clean.isEmpty())
        return false;
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).path();
    if (parent != clean && !makeFolders(parent, mode))
        return false;
    if (::mkdir(nativePath(clean).constData(), mode) == 0 || errno == EEXIST)
        return QFileInfo(clean).isDir();
    return false;
}

bool writeAtomically(const QString &path, const QByteArray &bytes, QString *error, const AtomicWriteOptions &options,
                     struct stat *written)
{
    const QString folder = QFileInfo(path).path();
    if (!makeFolders(folder, options.folderMode)) {
        setError(error, QStringLiteral("cannot create %1").arg(folder));
        return false;
    }
    // A unique temporary name, so that two writers of one file never share one.
    QByteArray temp = nativePath(path + (options.uniqueTemporary ? QStringLiteral(".tmp-XXXXXX") : QStringLiteral(".tmp")));
    const int fd = options.uniqueTemporary ? ::mkostemp(temp.data(), O_CLOEXEC)
                                           : ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        setError(error, errnoText(errno));
        return false;
    }
    bool ok = ::fchmod(fd, options.mode) == 0;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        ok = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? n : 0;
    }
    if (ok && options.mtimeAfterNs) {
        timespec now;
        ::clock_gettime(CLOCK_REALTIME, &now);
        const qint64 mtimeNs = qMax(qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec, *options.mtimeAfterNs + 1);
        const timespec times[2] = {{0, UTIME_OMIT}, {time_t(mtimeNs / 1'000'000'000), long(mtimeNs % 1'000'000'000)}};
        ok = ::futimens(fd, times) == 0;
    }
    if (ok && options.sync)
        ok = ::fdatasync(fd) == 0;
    struct stat st;
    if (ok)
        ok = ::fstat(fd, &st) == 0;
    int saved = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temp.constData(), nativePath(path).constData()) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        ::unlink(temp.constData());
        setError(error, errnoText(saved));
        return false;
    }
    if (written)
        *written = st;
    return true;
}

std::optional<QString> moveAside(const QString &path, const QDateTime &now, QString *error)
{
    const QString base =
        path + QStringLiteral(".corrupt-") + now.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss.zzz'Z'"));
    QString target = base;
    for (int n = 2;; ++n) {
        // link() fails when the target exists, so a name is never reused, even by
        // two processes moving files aside in the same millisecond.
        if (::link(nativePath(path).constData(), nativePath(target).constData()) == 0)
            break;
        if (errno != EEXIST) {
            setError(error, errnoText(errno));
            return std::nullopt;
        }
        if (n > 1000) {
            setError(error, QStringLiteral("no free name beside %1").arg(path));
            return std::nullopt;
        }
        target = base + QLatin1Char('-') + QString::number(n);
    }
    if (::unlink(nativePath(path).constData()) != 0) {
        const int saved = errno;
        ::unlink(nativePath(target).constData());
        setError(error, errnoText(saved));
        return std::nullopt;
    }
    return target;
}

} // namespace kovra::files
