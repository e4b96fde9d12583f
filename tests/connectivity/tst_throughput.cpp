#include "connectivity/AppGroupThroughputSource.h"
#include "connectivity/ThrottleTracker.h"

#include "support/ManualClock.h"

#include <QTest>

#include <limits>

using namespace kovra;
using namespace Qt::StringLiterals;

namespace {

const QDateTime kNoon(QDate(2025, 3, 5), QTime(12, 0), Qt::UTC); // 762868800 s after 2001-01-01
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

QByteArray record(const QByteArray &rx, const QByteArray &tx = "100", const QByteArray &conns = "2",
                  const QByteArray &updatedAt = "762868800")
{
    return R"({"rxBps":)" + rx + R"(,"txBps":)" + tx + R"(,"connectionsOut":)" + conns + R"(,"updatedAt":)"
         + updatedAt + "}";
}

enum class Feed { starved, healthy, missing };
struct Step {
    int atMs;
    Feed feed;
    bool throttled;
};

} // namespace

class ThroughputTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readSample_data()
    {
        QTest::addColumn<QByteArray>("stored"); // null: nothing stored
        QTest::addColumn<std::optional<SharedThroughputSample>>("expected");
        QTest::addColumn<QString>("logged"); // the start of the one expected line, or empty
        const std::optional<SharedThroughputSample> none;
        const QString decodeFailed = u"decode failed for key kovra.throughput_sample: decode "_s;
        const QString rejected = u"throughput sample rejected for key kovra.throughput_sample: "_s;
        QTest::newRow("nothing stored") << QByteArray() << none << QString();
        QTest::newRow("valid, unknown keys ignored")
            << QByteArray(R"({"rxBps":1024.5,"txBps":0,"connectionsOut":3,"updatedAt":762868800.25,"x":1})")
            << std::optional(SharedThroughputSample{1024.5, 0, 3, kNoon.addMSecs(250)}) << QString();
        QTest::newRow("fractional connection count")
            << record("1", "1", "2.5") << none << decodeFailed + u"dataCorrupted at <connectionsOut>"_s;
        QTest::newRow("missing key") << QByteArray(R"({"rxBps":1,"txBps":1,"updatedAt":1})") << none
                                     << decodeFailed + u"keyNotFound connectionsOut at <root>"_s;
        QTest::newRow("date as ISO 8601 text") << record("1", "1", "2", "\"2025-03-05T12:00:00Z\"") << none
                                               << decodeFailed + u"typeMismatch Date at <updatedAt>"_s;
        QTest::newRow("rate beyond a double") << record("1e400") << none
                                              << decodeFailed + u"dataCorrupted at <rxBps>"_s;
        QTest::newRow("rx beyond the integer range")
            << record("1e300") << none << rejected + u"rx=1e+300 tx=100 out of range"_s;
        QTest::newRow("tx at 2^63") << record("1", "9223372036854775808") << none << rejected + u"rx=1 tx=92"_s;
        QTest::newRow("largest whole rates that fit")
            << record("9223372036854774784", "-9223372036854775808")
            << std::optional(SharedThroughputSample{9223372036854774784.0, -0x1p63, 2, kNoon}) << QString();
    }
    void readSample()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QString, logged);
        const AppGroupStore store(Defaults::inMemory(), nullptr);
        if (!stored.isNull())
            store.defaults()->set(AppGroupKey::throughputSample, stored);
        LogCapture capture;
        QTEST(AppGroupThroughputSource::live(store).latest(), "expected");
        const QStringList lines = capture.texts(u"AppGroupStore"_s);
        QCOMPARE(lines.size(), logged.isEmpty() ? 0 : 1);
        if (!logged.isEmpty())
            QVERIFY2(lines.first().startsWith(logged), qPrintable(lines.first()));
    }

    // The poll reads the same record every two seconds: an unusable one is reported once.
    void unusableRecordIsLoggedOnce()
    {
        const AppGroupStore store(Defaults::inMemory(), nullptr);
        const AppGroupThroughputSource source = AppGroupThroughputSource::live(store);
        LogCapture capture;
        for (const QByteArray updatedAt : {"1000", "1000", "1000", "1002"}) {
            store.defaults()->set(AppGroupKey::throughputSample, record("1e200", "1", "2", updatedAt));
            QCOMPARE(source.latest(), std::nullopt);
        }
        QCOMPARE(capture.texts(u"AppGroupStore"_s).size(), 2);
    }

    void conversion_data()
    {
        QTest::addColumn<qint64>("ageMs");
        QTest::addColumn<double>("rx");
        QTest::addColumn<bool>("used");
        QTest::newRow("exactly 8 s old") << qint64(8000) << 10.0 << true;
        QTest::newRow("8.001 s old") << qint64(8001) << 10.0 << false;
        QTest::newRow("from the future") << qint64(-60000) << 10.0 << true;
        QTest::newRow("infinite rate") << qint64(0) << kInf << false;
        QTest::newRow("NaN rate") << qint64(0) << kNaN << false;
    }
    void conversion()
    {
        QFETCH(qint64, ageMs);
        QFETCH(double, rx);
        QFETCH(bool, used);
        const auto got = ThroughputSample::fromShared(SharedThroughputSample{rx, 5000, 4, kNoon}, kNoon.addMSecs(ageMs));
        QCOMPARE(got, used ? std::optional(ThroughputSample{rx, 5000, 4, kNoon}) : std::nullopt);
    }

    void wholeRate()
    {
        const std::pair<double, std::optional<qint64>> cases[] = {
            {2.5, 3}, {-0.5, -1}, {8191.49, 8191}, {9223372036854774784.0, 9223372036854774784LL},
            {-0x1p63, std::numeric_limits<qint64>::min()}, {0x1p63, std::nullopt}, {-kInf, std::nullopt},
            {kNaN, std::nullopt}};
        for (const auto &[rate, whole] : cases)
            QCOMPARE(ThroughputSample::wholeRate(rate), whole);
    }

    void starvation()
    {
        const std::tuple<double, double, bool> cases[] = {// tx, rx, starved
                                                          {4096, 8191.9, true}, {4095.9, 0, false},
                                                          {1e6, 8192, false},   {1e6, kNaN, false}};
        for (const auto &[tx, rx, starved] : cases)
            QCOMPARE(ThrottleTracker::isStarved(ThroughputSample{rx, tx, 1, kNoon}), starved);
    }

    void throttling_data()
    {
        QTest::addColumn<QList<Step>>("steps");
        const Feed S = Feed::starved, H = Feed::healthy, M = Feed::missing;
        QTest::newRow("onset after 6 s, recovery, new run")
            << QList<Step>{{0, S, false}, {2000, S, false}, {4000, S, false}, {6000, S, true}, {8000, H, false},
                           {10000, S, false}, {14000, S, false}, {16000, S, true}};
        QTest::newRow("a missing sample restarts the run")
            << QList<Step>{{0, S, false}, {2000, S, false}, {4000, M, false}, {6000, S, false}, {10000, S, false},
                           {12000, S, true}};
        QTest::newRow("threshold to the millisecond") << QList<Step>{{0, S, false}, {5999, S, false}, {6000, S, true}};
    }
    void throttling()
    {
        QFETCH(QList<Step>, steps);
        test::ManualClock clock;
        ThrottleTracker tracker;
        int elapsed = 0;
        for (const Step &step : steps) {
            clock.advance(std::chrono::milliseconds(step.atMs - elapsed));
            elapsed = step.atMs;
            std::optional<ThroughputSample> fed;
            if (step.feed != Feed::missing)
                fed = ThroughputSample{step.feed == Feed::starved ? 100.0 : 20000.0, 5000, 3, clock.now()};
            QVERIFY2(tracker.update(fed, clock.now()) == step.throttled, qPrintable(QString::number(step.atMs)));
        }
    }
};

QTEST_GUILESS_MAIN(ThroughputTest)
#include "tst_throughput.moc"
