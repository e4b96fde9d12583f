#include "connectivity/NetworkPathType.h"

#include <QElapsedTimer>
#include <QTest>

#include <cmath>
#include <limits>
#include <thread>

#include "FakePathSource.h"
#include "support/Await.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<NetworkPathType>)

namespace {

// A source that reports the given paths from a thread of its own after a delay, as the
// real source does.
class ThreadedSource : public NetworkPathSource {
public:
    ThreadedSource(QStringList reports, std::chrono::milliseconds delay) : m_reports(std::move(reports)), m_delay(delay) {}
    ~ThreadedSource() override
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    void start(Handler handler) override
    {
        m_thread = std::thread([this, handler] {
            std::this_thread::sleep_for(m_delay);
            for (const QString &report : m_reports)
                handler(pathFrom(report));
        });
    }
    void cancel() override { m_cancelled = true; }
    std::atomic<bool> m_cancelled = false;

private:
    QStringList m_reports;
    std::chrono::milliseconds m_delay;
    std::thread m_thread;
};

} // namespace

class NetworkPathTypeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rawValues_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<std::optional<NetworkPathType>>("type");
        QTest::newRow("wifi") << "wifi" << std::optional<NetworkPathType>(NetworkPathType::wifi);
        QTest::newRow("cellular") << "cellular" << std::optional<NetworkPathType>(NetworkPathType::cellular);
        QTest::newRow("other") << "other" << std::optional<NetworkPathType>(NetworkPathType::other);
        QTest::newRow("none") << "none" << std::optional<NetworkPathType>(NetworkPathType::none);
        QTest::newRow("upper case") << "WIFI" << std::optional<NetworkPathType>();
        QTest::newRow("empty") << "" << std::optional<NetworkPathType>();
        QTest::newRow("padded") << " wifi" << std::optional<NetworkPathType>();
        QTest::newRow("kind name") << "wired" << std::optional<NetworkPathType>();
    }
    void rawValues()
    {
        QFETCH(QString, raw);
        QFETCH(std::optional<NetworkPathType>, type);
        const auto parsed = NetworkPathType::fromRawValue(raw);
        QCOMPARE(parsed.has_value(), type.has_value());
        if (type) {
            QCOMPARE(NetworkPathType::Value(*parsed), NetworkPathType::Value(*type));
            QCOMPARE(parsed->rawValue(), raw);
        }
    }

    // The first report decides; current() returns as soon as it arrives.
    void current_data()
    {
        QTest::addColumn<QStringList>("reports");
        QTest::addColumn<QString>("type");
        QTest::newRow("Wi-Fi and cellular") << QStringList{"satisfied cellular,wifi"} << "wifi";
        QTest::newRow("cellular") << QStringList{"satisfied cellular,wired"} << "cellular";
        QTest::newRow("wired only") << QStringList{"satisfied wired"} << "other";
        QTest::newRow("a tunnel") << QStringList{"satisfied other"} << "other";
        QTest::newRow("unsatisfied") << QStringList{"unsatisfied wifi"} << "none";
        QTest::newRow("requires connection") << QStringList{"requiresConnection wifi"} << "none";
        QTest::newRow("only the first report counts") << QStringList{"unsatisfied", "satisfied wifi"} << "none";
    }
    void current()
    {
        QFETCH(QStringList, reports);
        QFETCH(QString, type);
        std::shared_ptr<ThreadedSource> source;
        const auto factory = [&]() -> std::shared_ptr<NetworkPathSource> {
            source = std::make_shared<ThreadedSource>(reports, 50ms);
            return source;
        };
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(NetworkPathType::current(30.0, factory).rawValue(), type);
        QVERIFY2(elapsed.elapsed() < 20000, "waited for the time-out despite a report");
        QVERIFY(source->m_cancelled);
    }

    // Without a report the answer is none once the time-out passed; time-outs that are
    // not positive numbers do not wait at all.
    void noReport_data()
    {
        QTest::addColumn<double>("timeout");
        QTest::addColumn<qint64>("atLeastMs");
        QTest::newRow("0.3 s") << 0.3 << qint64(300);
        QTest::newRow("zero") << 0.0 << qint64(0);
        QTest::newRow("negative") << -1.0 << qint64(0);
        QTest::newRow("not a number") << std::nan("") << qint64(0);
    }
    void noReport()
    {
        QFETCH(double, timeout);
        QFETCH(qint64, atLeastMs);
        FakePathSources sources;
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(NetworkPathType::current(timeout, sources.factory()), NetworkPathType::none);
        QVERIFY(elapsed.elapsed() >= atLeastMs);
        QVERIFY(elapsed.elapsed() < 20000);
        QVERIFY(sources.made.at(0)->isCancelled());
    }

    // A report at hand when the source starts counts even with no time to wait; an
    // endless time-out is clamped rather than overflowing.
    void immediateReport_data()
    {
        QTest::addColumn<double>("timeout");
        QTest::newRow("zero") << 0.0;
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity();
        QTest::newRow("huge") << 1e300;
    }
    void immediateReport()
    {
        QFETCH(double, timeout);
        FakePathSources sources;
        sources.reportOnStart = pathFrom("satisfied wifi");
        QCOMPARE(NetworkPathType::current(timeout, sources.factory()), NetworkPathType::wifi);
    }

    // Awaited from the GUI thread, the check blocks a worker instead.
    void offThread()
    {
        std::shared_ptr<ThreadedSource> source;
        const auto factory = [&]() -> std::shared_ptr<NetworkPathSource> {
            source = std::make_shared<ThreadedSource>(QStringList{"satisfied cellular"}, 100ms);
            return source;
        };
        Pending<NetworkPathType> check(NetworkPathType::currentOffThread(10.0, factory));
        QVERIFY(!check.isDone());
        QCOMPARE(check.result(), NetworkPathType::cellular);
    }
};

QTEST_GUILESS_MAIN(NetworkPathTypeTest)
#include "tst_network_path_type.moc"
