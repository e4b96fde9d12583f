#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

namespace kovra {

// A typed key-value domain (the app group's shared defaults). Values are one of:
// bool, qint64 (integers), double, QString, QStringList, QByteArray (data) and
// QDateTime (dates); the type a value was stored with is kept, so a Boolean reads
// as a Boolean only if it was stored as one. Thread-safe.
class Defaults {
public:
    virtual ~Defaults() = default;

    // The process-wide store of a named suite, backed by
    // $XDG_CONFIG_HOME/kovra/<suite>.json and shared with other processes. Every
    // call for the same file returns the same backing store. Null when the suite's
    // file or folder cannot be created or read.
    static std::shared_ptr<Defaults> suite(const QString &name);
    // The standard defaults ($XDG_CONFIG_HOME/kovra/standard.json); never null.
    static std::shared_ptr<Defaults> standard();
    // A private in-memory store, for tests.
    static std::shared_ptr<Defaults> inMemory();

    // The stored value with its stored type, or an invalid QVariant when absent.
    virtual QVariant object(const QString &key) const = 0;
    // Stores a value (an unsupported type is converted to its closest stored type);
    // an invalid QVariant removes the key.
    virtual void setObject(const QString &key, const QVariant &value) = 0;
    virtual void remove(const QString &key) = 0;
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
