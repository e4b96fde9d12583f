#pragma once

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace kovra::test {

// `base` for a process whose session bus is `address` and nothing else: no other bus
// is found through $XDG_RUNTIME_DIR, and no X11 autolaunch starts one.
QProcessEnvironment onBus(QProcessEnvironment base, const QString &address);

// An address where no bus listens (a socket that does not exist in `folder`).
QString noBusAddress(const QString &folder);

// A D-Bus session bus of the test's own: dbus-daemon as a child process, listening in a
// private folder, that can start only the services of `serviceFiles` (file name →
// contents of a ".service" file). With none, no Secret Service answers on it unless the
// test starts one. Stopped by its process id when the object goes.
class PrivateBus {
public:
    explicit PrivateBus(const QMap<QString, QString> &serviceFiles = {});
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    // Whether it listens (within a few seconds of construction).
    bool isListening();
    QString address() const { return QStringLiteral("unix:path=") + socketPath(); }
    QString output() { return QString::fromUtf8(m_daemon.readAll()); }
    // Whether `name` has an owner on this bus.
    bool hasOwner(const QString &name) const;
    // `base` for a process on this bus alone (see onBus()).
    QProcessEnvironment environment(QProcessEnvironment base = QProcessEnvironment::systemEnvironment()) const
    {
        return onBus(std::move(base), address());
    }

private:
    QString socketPath() const { return m_folder.path() + QStringLiteral("/bus"); }

    QTemporaryDir m_folder;
    QProcess m_daemon;
};

} // namespace kovra::test
