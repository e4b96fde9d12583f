#include "connectivity/NetworkPathType.h"
#include "connectivity/SystemNetworkPathMonitor.h"
#include "platform/NetlinkPathSource.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstring>

#include <sched.h>
#include <sys/mount.h>

#include "support/Await.h"

using namespace kovra;

// The whole process moves into a network namespace of its own (and a mount namespace
// with a fresh sysfs), so the interfaces made here exist for this test alone.
class PathMonitorNamespaceTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        m_ip = QStandardPaths::findExecutable(QStringLiteral("ip"), {"/usr/sbin", "/sbin", "/usr/bin", "/bin"});
        if (m_ip.isEmpty())
            QSKIP("iproute2's ip is not installed");
        const bool ownMounts = ::unshare(CLONE_NEWNET | CLONE_NEWNS) == 0;
        if (!ownMounts && ::unshare(CLONE_NEWNET) != 0)
            QSKIP(qPrintable(QStringLiteral("cannot make a network namespace: ") + QString::fromLocal8Bit(std::strerror(errno))));
        // Without a sysfs of our own the kinds come from the link type alone.
        if (ownMounts && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
            && ::mount("sysfs", m_sys.path().toLocal8Bit().constData(), "sysfs", MS_RDONLY, nullptr) == 0)
            m_options.sysRoot = m_sys.path();
        // A dummy interface where the kernel has the module, else one end of a veth pair.
        if (!ip({"link", "add", "kv0", "type", "dummy"})) {
            if (!ip({"link", "add", "kv0", "type", "veth", "peer", "name", "kv1"}))
                QSKIP("the kernel makes neither dummy nor veth interfaces");
            QVERIFY(ip({"link", "set", "kv1", "up"}));
            m_carrier = QStringLiteral("kv1");
        }
        qInfo("with %s, sysfs %s", m_carrier.isEmpty() ? "a dummy" : "a veth pair", qPrintable(m_options.sysRoot));
    }

    void cleanupTestCase()
    {
        if (m_options.sysRoot == m_sys.path())
            ::umount(m_sys.path().toLocal8Bit().constData());
    }

    // A default route over an up interface is a change, losing the carrier another;
    // addresses and other routes are none. Handlers run off the GUI thread.
    void followsTheNamespace()
    {
        std::atomic<int> changes = 0;
        std::atomic<bool> onGuiThread = false;
        SystemNetworkPathMonitor monitor(NetlinkPathSource::factory(m_options));
        monitor.setChangeHandler([&] {
            ++changes;
            onGuiThread = onGuiThread || QThread::currentThread() == qApp->thread();
        });
        monitor.start();
        // Every source runs on one thread: when a check started later has its answer, the
        // monitor has seen the same state.
        QCOMPARE(currentType(), NetworkPathType::none);

        QVERIFY(ip({"link", "set", "kv0", "up"}) && ip({"addr", "add", "10.77.0.2/24", "dev", "kv0"}));
        QVERIFY(ip({"route", "add", "10.79.0.0/16", "via", "10.77.0.1", "dev", "kv0"}));
        QCOMPARE(currentType(), NetworkPathType::none);
        QVERIFY(ip({"route", "add", "default", "via", "10.77.0.1", "dev", "kv0"}));
        // The carrier comes a moment after the link is up.
        QTRY_COMPARE(currentType(), NetworkPathType::other); // wired
        QTRY_COMPARE(int(changes), 1);

        QVERIFY(setCarrier("down"));
        QTRY_COMPARE(test::await(NetworkPathType::currentOffThread(2.0, NetlinkPathSource::factory(m_options))),
                     NetworkPathType::none);
        QTRY_COMPARE(int(changes), 2);
        QVERIFY(!onGuiThread);

        // Stopped, the monitor hears nothing more.
        monitor.stop();
        QVERIFY(setCarrier("up"));
        if (m_carrier.isEmpty()) // a dummy taken down lost its route
            QVERIFY(ip({"route", "add", "default", "via", "10.77.0.1", "dev", "kv0"}));
        QTRY_COMPARE(currentType(), NetworkPathType::other);
        QCOMPARE(int(changes), 2);
    }

private:
    NetworkPathType currentType() { return NetworkPathType::current(2.0, NetlinkPathSource::factory(m_options)); }

    // A veth end loses its carrier with its peer; a dummy is taken down instead.
    bool setCarrier(const char *state)
    {
        return ip({"link", "set", m_carrier.isEmpty() ? QStringLiteral("kv0") : m_carrier, QString::fromLatin1(state)});
    }

    bool ip(const QStringList &arguments)
    {
        QProcess process;
        process.start(m_ip, arguments);
        if (process.waitForFinished(10000) && process.exitCode() == 0)
            return true;
        qInfo("ip %s: %s", qPrintable(arguments.join(u' ')), process.readAllStandardError().trimmed().constData());
        return false;
    }

    QString m_ip;
    QTemporaryDir m_sys;
    QString m_carrier; // the veth peer, empty for a dummy
    NetlinkPathSource::Options m_options{.sysRoot = QStringLiteral("/nonexistent")};
};

QTEST_GUILESS_MAIN(PathMonitorNamespaceTest)
#include "itst_path_monitor_netns.moc"
