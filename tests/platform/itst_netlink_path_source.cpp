#include "platform/Log.h"
#include "platform/NetlinkPathSource.h"

#include <QMutex>
#include <QMutexLocker>
#include <QTest>
#include <QThread>

#include <atomic>
#include <cerrno>

using namespace kovra;

// The source against this machine's own routing tables (read only).
class NetlinkPathSourceTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The first report comes without any change, on the thread the source was given.
    void reportsOnItsThread()
    {
        QThread thread;
        thread.start();
        std::atomic<int> opened = 0;
        NetlinkPathSource::Options options;
        options.thread = &thread;
        options.openSocket = [&] {
            ++opened;
            return openRouteSocket();
        };
        std::atomic<QThread *> reportedOn = nullptr;
        std::atomic<int> reports = 0;
        {
            NetlinkPathSource source(options);
            source.start([&](const NetworkPath &) {
                reportedOn = QThread::currentThread();
                ++reports;
            });
            QTRY_COMPARE(int(reports), 1);
            QCOMPARE(reportedOn.load(), &thread);
            QCOMPARE(int(opened), 2); // events and dumps
            source.start([&](const NetworkPath &) { reports += 100; }); // a source starts once
            QCOMPARE(int(opened), 2);
        }
        QCOMPARE(int(reports), 1);
        thread.quit();
        thread.wait();
    }

    // A socket that cannot be opened is logged and nothing is ever reported.
    void socketRefused()
    {
        LogCapture logs;
        std::atomic<int> reports = 0;
        NetlinkPathSource::Options options;
        options.openSocket = [] {
            errno = EACCES;
            return -1;
        };
        NetlinkPathSource source(options);
        source.start([&](const NetworkPath &) { ++reports; });
        QTRY_VERIFY(logs.contains(QStringLiteral("network path: cannot open a netlink socket: Permission denied")));
        QCOMPARE(int(reports), 0);
    }

    void cancelledBeforeStart()
    {
        std::atomic<int> opened = 0;
        NetlinkPathSource::Options options;
        options.openSocket = [&] {
            ++opened;
            return openRouteSocket();
        };
        NetlinkPathSource source(options);
        source.cancel();
        source.start([](const NetworkPath &) {});
        QCOMPARE(int(opened), 0);
    }
};

QTEST_GUILESS_MAIN(NetlinkPathSourceTest)
#include "itst_netlink_path_source.moc"
