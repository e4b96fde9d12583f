#include "support/SessionBus.h"

#include "support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace kovra::test {

PrivateBus::PrivateBus(const QMap<QString, QString> &serviceFiles) : m_folder(QDir::tempPath() + QStringLiteral("/kb-XXXXXX"))
{
    QString services;
    if (!serviceFiles.isEmpty()) {
        const QString folder = m_folder.path() + QStringLiteral("/services");
        QDir().mkpath(folder);
        for (auto it = serviceFiles.cbegin(); it != serviceFiles.cend(); ++it) {
            QFile file(folder + u'/' + it.key());
            if (file.open(QIODevice::WriteOnly))
                file.write(it.value().toUtf8());
        }
        services = QStringLiteral("<servicedir>%1</servicedir>").arg(folder);
    }
    // Like the system's session configuration, without its standard service folders
    // (from which the bus would start the installed keyring).
    const QString config = QStringLiteral(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:path=%1</listen><auth>EXTERNAL</auth>%2"
        "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        "<allow own=\"*\"/></policy></busconfig>\n").arg(socketPath(), services);
    const QString configPath = m_folder.path() + QStringLiteral("/bus.conf");
    QFile file(configPath);
    if (file.open(QIODevice::WriteOnly))
        file.write(config.toUtf8());
    file.close();
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + configPath, QStringLiteral("--nofork"), QStringLiteral("--nopidfile")});
    m_daemon.waitForStarted(5000);
}

PrivateBus::~PrivateBus()
{
    stopChild(m_daemon);
}

bool PrivateBus::isListening()
{
    return QTest::qWaitFor([this] { return QFile::exists(socketPath()) || m_daemon.state() == QProcess::NotRunning; },
                           10000)
           && m_daemon.state() != QProcess::NotRunning;
}

bool PrivateBus::hasOwner(const QString &name) const
{
    QProcess ask;
    ask.setProcessEnvironment(environment());
    ask.start(QStringLiteral("dbus-send"),
              {QStringLiteral("--session"), QStringLiteral("--print-reply"), QStringLiteral("--dest=org.freedesktop.DBus"),
               QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
               QStringLiteral("string:") + name});
    return ask.waitForFinished(5000) && ask.readAllStandardOutput().contains("boolean true");
}

QProcessEnvironment onBus(QProcessEnvironment base, const QString &address)
{
    base.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    // A set address is the only one GDBus and libdbus try: no $XDG_RUNTIME_DIR/bus, no
    // X11 autolaunch.
    base.remove(QStringLiteral("DBUS_STARTER_ADDRESS"));
    base.remove(QStringLiteral("DBUS_STARTER_BUS_TYPE"));
    return base;
}

QString noBusAddress(const QString &folder)
{
    return QStringLiteral("unix:path=") + folder + QStringLiteral("/no-bus");
}

} // namespace kovra::test
