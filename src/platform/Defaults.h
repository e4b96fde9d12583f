#pragma once

#include "platform/PlatformPaths.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>
#include <utility>

namespace kovra {

// A typed key-value domain (the app group's shared defaults). Values are one of:
// bool, qint64 (integers), double, QString, QStringList, QByteArray (data) and
// QDateTime (dates); the type a value was stored with is kept, so a Boolean reads
// as a Boolean only if it was stored as one. Thread-safe.
class Defaults {
public:
    virtual ~Defaults() = default;

    // The store of a named suite, backed by <configHome>/kovra/<name>.json and shared
    // with other processes. Every call for the same file returns the same backing
    // store, so the objects and threads of one process share one view of it. Null
    // when the name is not a plain file name, `paths.configHome` is not absolute, or
    // the suite's file or folder cannot be created or read.
    static std::shared_ptr<Defaults> suite(const PlatformPaths &paths, const QString &name);
    // The standard defaults (<configHome>/kovra/standard.json), or one in-memory
    // store per folder when that file cannot be opened; never null.
    static std::shared_ptr<Defaults> standard(const PlatformPaths &paths);
    // A private in-memory store, for tests.
    static std::shared_ptr<Defaults> inMemory();

    // The stored value with its stored type, or an invalid QVariant when absent.
    virtual QVariant object(const QString &key) const = 0;
    // Stores a value (an unsupported type is converted to its closest stored type);
    // an invalid QVariant removes the key.
    virtual void setObject(const QString &key, const QVariant &value) = 0;
    virtual void remove(const QString &key) = 0;
    // One change of a batch: the value to store, or an invalid QVariant to remove the key.
    using Change = std::pair<QString, QVariant>;
    // Applies the changes in order as one write (one lock, one reread, one rename):
    // another process sees all of them or none. When a value has no stored form,
    // nothing changes. True when the changes reached the file (always in memory);
    // changes that could not be written stay in this process and go with the next
    // write or synchronize().
    virtual bool setObjects(const QList<Change> &changes) = 0;
    // Removes the keys in one write, as setObjects() does.
    bool removeKeys(const QStringList &keys);
    virtual QStringList keys() const = 0;
    // Writes pending changes and rereads what other processes wrote; true on success.
    virtual bool synchronize() = 0;

    bool contains(const QString &key) const { return object(key).isValid(); }

    // Typed reads: a value only when it is stored with that type (integers also
    // read as doubles and whole doubles as integers), else none.
    std::optional<bool> boolean(const QString &key) const;
    std::optional<qint64> integer(const QString &key) const;
    std::optional<double> number(const QString &key) const;
    std::optional<QString> string(const QString &key) const;
    std::optional<QStringList> stringList(const QString &key) const;
    std::optional<QByteArray> data(const QString &key) const;
    std::optional<QDateTime> date(const QString &key) const;

    void set(const QString &key, bool v) { setObject(key, QVariant(v)); }
    void set(const QString &key, qint64 v) { setObject(key, QVariant::fromValue(v)); }
    void set(const QString &key, int v) { setObject(key, QVariant::fromValue(qint64(v))); }
    void set(const QString &key, double v) { setObject(key, QVariant(v)); }
    void set(const QString &key, const QString &v) { setObject(key, QVariant(v)); }
    void set(const QString &key, const char *v) { setObject(key, QVariant(QString::fromUtf8(v))); }
    void set(const QString &key, const QStringList &v) { setObject(key, QVariant(v)); }
    void set(const QString &key, const QByteArray &v) { setObject(key, QVariant(v)); }
    void set(const QString &key, const QDateTime &v) { setObject(key, QVariant(v)); }
};

} // namespace kovra
