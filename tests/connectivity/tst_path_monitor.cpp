#include "connectivity/NetworkPathType.h"
#include "connectivity/SystemNetworkPathMonitor.h"

#include <QElapsedTimer>
#include <QStringList>
#include <QTest>

#include <atomic>
#include <cmath>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

using namespace kovra;

namespace {

// "satisfied wifi,wired", "unsatisfied", "requiresConnection": a path with one
// interface per listed kind.
NetworkPath pathFrom(const QString &text)
{
    static const QStringList kinds{"wifi", "cellular", "wired", "loopback", "other"};
    NetworkPath path;
    const QString status = text.section(u' ', 0, 0);
    path.status = status == u"satisfied"            ? NetworkPathStatus::Satisfied
                : status == u"requiresConnection" ? NetworkPathStatus::RequiresConnection
                                                  : NetworkPathStatus::Unsatisfied;
    for (const QString &kind : text.section(u' ', 1).split(u',', Qt::SkipEmptyParts)) {
        const int index = int(path.interfaces.size()) + 2;
        path.interfaces.append({index, kind + QString::number(index), InterfaceKind(kinds.indexOf(kind))});
    }
    return path;
}

// A path source the test drives. report() delivers on the calling thread, also after
// cancel(), as a late report of a real source would arrive.
class FakePathSource : public NetworkPathSource {
public:
    void start(Handler handler) override
    {
        m_handler = std::move(handler);
        ++starts;
        starts.notify_all();
        if (onStart)
            m_handler(pathFrom(*onStart));
    }
    void cancel() override { cancelled = true; }
    void report(const QString &path) { m_handler(pathFrom(path)); }

    std::atomic<int> starts = 0;
    std::atomic<bool> cancelled = false;
    std::optional<QString> onStart; // reported from inside start()

private:
    Handler m_handler;
};

// Hands out fake sources and keeps them for the test.
struct FakePathSources {
    std::vector<std::shared_ptr<FakePathSource>> made;
    std::optional<QString> onStart;
    QStringList fromThread; // reported from a thread of the source's own once started
    std::vector<std::thread> threads;

    ~FakePathSources()
    {
        for (auto &t : threads)
            t.join();
    }
    NetworkPathSourceFactory factory()
    {
        return [this]() -> std::shared_ptr<NetworkPathSource> {
            auto source = std::make_shared<FakePathSource>();
            source->onStart = onStart;
            if (!fromThread.isEmpty()) {
                threads.emplace_back([source, reports = fromThread] {
                    source->starts.wait(0);
                    for (const QString &report : reports)
                        source->report(report);
                });
            }
            made.push_back(source);
            return source;
        };
    }
};

} // namespace

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
        QTest::newRow("loses the path") << QStringList{"satisfied wired", "unsatisfied"} << 1;
        QTest::newRow("unsatisfied to requires connection") << QStringList{"unsatisfied", "requiresConnection"} << 1;
        QTest::newRow("back and forth") << QStringList{"satisfied loopback", "satisfied cellular", "satisfied loopback"} << 2;
        QTest::newRow("repeated change counts once") << QStringList{"satisfied wired", "satisfied other", "satisfied other"} << 1;
    }
    void changes()
    {
        QFETCH(QStringList, reports);
        FakePathSources sources;
        SystemNetworkPathMonitor monitor(sources.factory());
        int called = 0;
        monitor.setChangeHandler([&] { ++called; });
        monitor.start();
        for (const QString &report : reports)
            sources.made.at(0)->report(report);
        QTEST(called, "calls");
    }

    // Once stopped, or replaced by a new start, a source's reports are dropped; the new
    // source starts from a fresh baseline, also when it reports from inside start().
    // A second start or stop changes nothing.
    void staleReports()
    {
        FakePathSources sources;
        SystemNetworkPathMonitor monitor(sources.factory());
        int called = 0;
        monitor.setChangeHandler([&] { ++called; });
        monitor.stop();
        monitor.start();
        monitor.start();
        QCOMPARE(sources.made.size(), size_t(1));
        auto first = sources.made.at(0);
        QCOMPARE(int(first->starts), 1);
        first->report("satisfied wifi");
        monitor.stop();
        monitor.stop();
        QVERIFY(first->cancelled && !monitor.isRunning());
        first->report("unsatisfied");

        sources.onStart = "satisfied wired";
        monitor.start();
        auto second = sources.made.at(1);
        first->report("satisfied cellular");
        second->report("satisfied wired");
        QCOMPARE(called, 0);
        second->report("unsatisfied");
        QCOMPARE(called, 1);
    }

    // The first report decides, as soon as it arrives; without one the answer is none
    // once the time-out passed. Time-outs that are not numbers do not wait; endless
    // ones are bounded.
    void current_data()
    {
        QTest::addColumn<QStringList>("reports");
        QTest::addColumn<double>("timeout");
        QTest::addColumn<QString>("type");
        QTest::newRow("Wi-Fi and cellular") << QStringList{"satisfied cellular,wifi"} << 30.0 << "wifi";
        QTest::newRow("cellular") << QStringList{"satisfied cellular,wired"} << 30.0 << "cellular";
        QTest::newRow("wired only") << QStringList{"satisfied wired"} << 30.0 << "other";
        QTest::newRow("unsatisfied") << QStringList{"unsatisfied wifi"} << 30.0 << "none";
        QTest::newRow("only the first report counts") << QStringList{"unsatisfied", "satisfied wifi"} << 30.0 << "none";
        QTest::newRow("endless time-out") << QStringList{"satisfied other"} << std::numeric_limits<double>::infinity() << "other";
        QTest::newRow("no report") << QStringList{} << 0.3 << "none";
        QTest::newRow("not a number") << QStringList{} << std::nan("") << "none";
    }
    void current()
    {
        QFETCH(QStringList, reports);
        QFETCH(double, timeout);
        FakePathSources sources;
        sources.fromThread = reports;
        QElapsedTimer elapsed;
        elapsed.start();
        QTEST(NetworkPathType::current(timeout, sources.factory()).rawValue(), "type");
        QVERIFY(sources.made.at(0)->cancelled);
        if (reports.isEmpty())
            QVERIFY(elapsed.elapsed() >= (std::isnan(timeout) ? 0 : qint64(timeout * 1000)));
        else
            QVERIFY2(elapsed.elapsed() < 20000, "waited for the time-out despite a report");
    }

};

QTEST_GUILESS_MAIN(PathMonitorTest)
#include "tst_path_monitor.moc"
