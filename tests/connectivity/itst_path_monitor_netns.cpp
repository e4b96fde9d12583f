#include "connectivity/NetworkPathType.h"
#include "connectivity/SystemNetworkPathMonitor.h"
#include "platform/NetlinkPathSource.h"

#include <QMutex>
#include <QMutexLocker>
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
using namespace kovra::test;
using namespace std::chrono_literals;

namespace {

// Keeps every path a source reported.
class PathRecorder {
public:
    NetworkPathSource::Handler handler()
    {
        return [this](const NetworkPath &path) {
            QMutexLocker lock(&m_mutex);
            m_paths.append(path);
        };
    }
    QString last() const
    {
        QMutexLocker lock(&m_mutex);
        return m_paths.isEmpty() ? QString() : toString(m_paths.last());
    }
    qsizetype count() const
    {
        QMutexLocker lock(&m_mutex);
        return m_paths.size();
    }

private:
    mutable QMutex m_mutex;
    QList<NetworkPath> m_paths;
};

} // namespace

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
        // Without a mount namespace of our own the kinds come from the link type alone.
        const bool ownMounts = ::unshare(CLONE_NEWNET | CLONE_NEWNS) == 0;
        if (!ownMounts && ::unshare(CLONE_NEWNET) != 0)
            QSKIP(qPrintable(QStringLiteral("cannot make a network namespace here: ") + QString::fromLocal8Bit(std::strerror(errno))));
        QVERIFY(m_sys.isValid());
        // Mounts made here stay in this namespace.
        if (ownMounts && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
            && ::mount("sysfs", m_sys.path().toLocal8Bit().constData(), "sysfs", MS_RDONLY, nullptr) == 0)
            m_sysRoot = m_sys.path();
        else
            qInfo("no sysfs of our own (%s): kinds come from the link type", std::strerror(errno));
        m_options.sysRoot = m_sysRoot;
        // A dummy interface where the kernel has the module, else one end of a veth pair.
        if (!ip({"link", "add", "kv0", "type", "dummy"})) {
            if (!ip({"link", "add", "kv0", "type", "veth", "peer", "name", "kv1"}))
                QSKIP("the kernel makes neither dummy nor veth interfaces");
            QVERIFY(ip({"link", "set", "kv1", "up"}));
            m_peer = QStringLiteral("kv1");
        }
        qInfo("testing with %s", m_peer.isEmpty() ? "a dummy interface" : "a veth pair");
    }

    void cleanupTestCase()
    {
        if (m_sysRoot == m_sys.path())
            ::umount(m_sysRoot.toLocal8Bit().constData());
    }

    // The monitor follows real route and link changes: a default route over an up
    // interface is a change, losing the carrier is another, and nothing else counts.
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
        // A second source on the same thread: once it has reported, the monitor's
        // source, started first, has its baseline.
        PathRecorder recorder;
        NetlinkPathSource watcher(m_options);
        watcher.start(recorder.handler());
        QTRY_COMPARE(recorder.last(), QStringLiteral("unsatisfied []"));

        QVERIFY(ip({"link", "set", "kv0", "up"}));
        QVERIFY(ip({"addr", "add", "10.77.0.2/24", "dev", "kv0"}));
        QVERIFY(ip({"route", "add", "default", "via", "10.77.0.1", "dev", "kv0"}));
        QTRY_COMPARE(recorder.last(), QStringLiteral("satisfied [kv0 wired]"));
        QTRY_COMPARE(int(changes), 1);

        QCOMPARE(NetworkPathType::current(2.0, NetlinkPathSource::factory(m_options)), NetworkPathType::other);

        // Without its peer a veth end has no carrier; a dummy is taken down instead.
        QVERIFY(m_peer.isEmpty() ? ip({"link", "set", "kv0", "down"}) : ip({"link", "set", m_peer, "down"}));
        QTRY_COMPARE(recorder.last(), QStringLiteral("unsatisfied []"));
        QTRY_COMPARE(int(changes), 2);
        QVERIFY(!onGuiThread);

        const auto type = test::await(NetworkPathType::currentOffThread(2.0, NetlinkPathSource::factory(m_options)));
        QCOMPARE(type, NetworkPathType::none);

        // Stopped, the monitor hears nothing more.
        monitor.stop();
        QVERIFY(m_peer.isEmpty() ? ip({"link", "set", "kv0", "up"}) : ip({"link", "set", m_peer, "up"}));
        if (m_peer.isEmpty())
            QVERIFY(ip({"route", "add", "default", "via", "10.77.0.1", "dev", "kv0"}));
        QTRY_COMPARE(recorder.last(), QStringLiteral("satisfied [kv0 wired]"));
        QCOMPARE(int(changes), 2);
        watcher.cancel();
    }

    // Address changes and routes that are not default routes leave the path alone.
    void unrelatedChangesAreQuiet()
    {
        PathRecorder recorder;
        NetlinkPathSource watcher(m_options);
        watcher.start(recorder.handler());
        QTRY_VERIFY(recorder.count() == 1);
        const QString before = recorder.last();
        QVERIFY(ip({"addr", "add", "10.78.0.2/24", "dev", "kv0"}));
        QVERIFY(ip({"route", "add", "10.79.0.0/16", "via", "10.78.0.1", "dev", "kv0"}));
        // A sentinel change the recorder must see: by then the changes above were read.
        QVERIFY(ip({"route", "del", "default"}));
        QTRY_COMPARE(recorder.last(), QStringLiteral("unsatisfied []"));
        QCOMPARE(recorder.count(), 2);
        QVERIFY(before != recorder.last());
        watcher.cancel();
    }

private:
    bool ip(const QStringList &arguments)
    {
        QProcess process;
        process.start(m_ip, arguments);
        if (!process.waitForFinished(10000) || process.exitCode() != 0) {
            qInfo("ip %s: %s", qPrintable(arguments.join(u' ')), process.readAllStandardError().trimmed().constData());
            return false;
        }
        return true;
    }

    QString m_ip;
    QTemporaryDir m_sys;
    QString m_sysRoot = QStringLiteral("/nonexistent");
    QString m_peer;
    NetlinkPathSource::Options m_options;
};

QTEST_GUILESS_MAIN(PathMonitorNamespaceTest)
#include "itst_path_monitor_netns.moc"
