#include "connectivity/SystemNetworkPathMonitor.h"

#include <QTest>

#include <atomic>
#include <thread>

#include "FakePathSource.h"

using namespace kovra;
using namespace kovra::test;

class PathMonitorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Reports of one running monitor, and how many of them were changes.
    void changes_data()
    {
        QTest::addColumn<QStringList>("reports");
        QTest::addColumn<int>("calls");
        QTest::newRow("first report sets the baseline") << QStringList{"satisfied wired"} << 0;
        QTest::newRow("same signature") << QStringList{"satisfied wired", "satisfied wired"} << 0;
        QTest::newRow("another interface of the same kind") << QStringList{"satisfied wired", "satisfied wired,wired"} << 0;
        QTest::newRow("adds wired Ethernet") << QStringList{"satisfied wifi", "satisfied wifi,wired"} << 1;
        QTest::newRow("drops wired Ethernet") << QStringList{"satisfied wifi,wired", "satisfied wifi"} << 1;
        QTest::newRow("loses the path") << QStringList{"satisfied wired", "unsatisfied"} << 1;
        QTest::newRow("unsatisfied to requires connection") << QStringList{"unsatisfied", "requiresConnection"} << 1;
        QTest::newRow("back and forth") << QStringList{"satisfied wired", "satisfied cellular", "satisfied wired"} << 2;
        QTest::newRow("repeated change counts once")
            << QStringList{"satisfied loopback", "satisfied other", "satisfied other", "satisfied other"} << 1;
    }
    void changes()
    {
        QFETCH(QStringList, reports);
        QFETCH(int, calls);
        FakePathSources sources;
        SystemNetworkPathMonitor monitor(sources.factory());
        int called = 0;
        monitor.setChangeHandler([&] { ++called; });
        monitor.start();
        QCOMPARE(sources.made.size(), size_t(1));
        for (const QString &report : reports)
            sources.made[0]->report(pathFrom(report));
        QCOMPARE(called, calls);
    }

    // Once stopped, or replaced by a new start, a source's reports are dropped, and the
    // new source starts from a fresh baseline.
    void staleReports()
    {
        FakePathSources sources;
        SystemNetworkPathMonitor monitor(sources.factory());
        int called = 0;
        monitor.setChangeHandler([&] { ++called; });
        monitor.start();
        auto first = sources.made.at(0);
        first->report(pathFrom("satisfied wifi"));
        monitor.stop();
        QVERIFY(first->isCancelled());
        QVERIFY(!monitor.isRunning());
        first->report(pathFrom("unsatisfied"));
        QCOMPARE(called, 0);

        monitor.start();
        auto second = sources.made.at(1);
        first->report(pathFrom("satisfied cellular"));
        second->report(pathFrom("satisfied wired"));  // baseline, not compared with the first run
        QCOMPARE(called, 0);
        first->report(pathFrom("unsatisfied"));
        QCOMPARE(called, 0);
        second->report(pathFrom("satisfied wired"));
        QCOMPARE(called, 0);
        second->report(pathFrom("unsatisfied"));
        QCOMPARE(called, 1);
    }

    void startAndStopTwice()
    {
        FakePathSources sources;
        SystemNetworkPathMonitor monitor(sources.factory());
        monitor.stop();
        QVERIFY(sources.made.empty());
        monitor.start();
        monitor.start();
        QCOMPARE(sources.made.size(), size_t(1));
        QCOMPARE(sources.made[0]->starts(), 1);
        QVERIFY(monitor.isRunning());
        monitor.stop();
        monitor.stop();
        QVERIFY(sources.made[0]->isCancelled());
    }

    // A source that reports from inside start() sets the baseline at once.
    void reportDuringStart()
    {
        FakePathSources sources;
        sources.reportOnStart = pathFrom("satisfied wifi");
        SystemNetworkPathMonitor monitor(sources.factory());
        int called = 0;
        monitor.setChangeHandler([&] { ++called; });
        monitor.start();
        QCOMPARE(called, 0);
        sources.made[0]->report(pathFrom("satisfied wired"));
        QCOMPARE(called, 1);
    }

    // The handler may be replaced or removed at any time; it runs outside the lock, so
    // it may use the monitor.
    void handlerChanges()
    {
        FakePathSources sources;
        SystemNetworkPathMonitor monitor(sources.factory());
        monitor.start();
        auto source = sources.made.at(0);
        source->report(pathFrom("satisfied wifi"));
        source->report(pathFrom("unsatisfied"));  // no handler: nothing to call

        int called = 0;
        monitor.setChangeHandler([&] {
            ++called;
            QVERIFY(monitor.changeHandler() != nullptr);
        });
        source->report(pathFrom("satisfied wifi"));
        QCOMPARE(called, 1);
        monitor.setChangeHandler({});
        source->report(pathFrom("unsatisfied"));
        QCOMPARE(called, 1);
    }

    // A source that outlives its monitor may still report: nothing happens.
    void reportAfterTheMonitorIsGone()
    {
        FakePathSources sources;
        int called = 0;
        {
            SystemNetworkPathMonitor monitor(sources.factory());
            monitor.setChangeHandler([&] { ++called; });
            monitor.start();
            sources.made[0]->report(pathFrom("satisfied wifi"));
        }
        QVERIFY(sources.made[0]->isCancelled());
        sources.made[0]->report(pathFrom("unsatisfied"));
        QCOMPARE(called, 0);
    }

    // Reports from another thread race start() and stop() on this one.
    void reportsRaceStartAndStop()
    {
        FakePathSources sources;
        SystemNetworkPathMonitor monitor(sources.factory());
        std::atomic<int> called = 0;
        monitor.setChangeHandler([&] { ++called; });
        monitor.start();
        std::shared_ptr<FakePathSource> source = sources.made.at(0);
        std::atomic<bool> done = false;
        std::thread reporter([&] {
            for (int i = 0; !done; ++i)
                source->report(pathFrom(i % 2 ? "satisfied wifi" : "unsatisfied"));
        });
        for (int i = 0; i < 200; ++i) {
            monitor.stop();
            monitor.start();
        }
        done = true;
        reporter.join();
        QCOMPARE(sources.made.size(), size_t(201));
        const int before = called;
        source->report(pathFrom("satisfied cellular"));
        QCOMPARE(int(called), before);
    }
};

QTEST_GUILESS_MAIN(PathMonitorTest)
#include "tst_path_monitor.moc"
