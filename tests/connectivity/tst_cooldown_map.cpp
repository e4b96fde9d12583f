#include "connectivity/CooldownMap.h"

#include <QTest>

#include <limits>

using namespace kovra;
using namespace Qt::StringLiterals;

namespace {
const QDateTime kStart(QDate(2025, 3, 5), QTime(12, 0), Qt::UTC);
}

class CooldownMapTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Failures of one id at the given offsets (seconds), each with the pause it must get.
    void pauses_data()
    {
        QTest::addColumn<QList<int>>("failAt");
        QTest::addColumn<QList<double>>("pauses");
        QTest::newRow("doubling up to the cap")
            << QList<int>{0, 20, 60, 140, 300, 540} << QList<double>{20, 40, 80, 160, 240, 240};
        QTest::newRow("the count survives expired pauses") << QList<int>{0, 3600, 86400} << QList<double>{20, 40, 80};
        QTest::newRow("failures while paused count too") << QList<int>{0, 1, 2} << QList<double>{20, 40, 80};
    }
    void pauses()
    {
        QFETCH(QList<int>, failAt);
        QFETCH(QList<double>, pauses);
        CooldownMap map;
        for (qsizetype i = 0; i < failAt.size(); ++i) {
            const QDateTime at = kStart.addSecs(failAt.at(i));
            QCOMPARE(map.recordFailure(u"nl-hy2"_s, at), pauses.at(i));
            QCOMPARE(map.entries.value(u"nl-hy2"_s), (CooldownMap::Entry{at.addSecs(qint64(pauses.at(i))), i + 1}));
        }
    }

    void expiryAndSeparateIds()
    {
        CooldownMap map;
        map.recordFailure(u"a"_s, kStart);
        map.recordFailure(u"a"_s, kStart); // until kStart + 40 s
        QVERIFY(!map.isOffCooldown(u"a"_s, kStart.addMSecs(39999)));
        QVERIFY(map.isOffCooldown(u"a"_s, kStart.addSecs(40)));
        QVERIFY(map.isOffCooldown(u"b"_s, kStart));
        QCOMPARE(map.recordFailure(u"b"_s, kStart), 20.0);
        map.setEntry(u"b"_s, std::nullopt);
        QVERIFY(!map.entries.contains(u"b"_s));
        map.clear();
        QCOMPARE(map, CooldownMap());
        QCOMPARE(map.recordFailure(u"a"_s, kStart), 20.0);
    }

    // Odd settings still give a pause and a usable date.
    void extremeSettings()
    {
        CooldownMap overflowing{{}, 20, 2, 240};
        for (int i = 0; i < 1100; ++i) // 2^1100 is no finite double
            overflowing.recordFailure(u"x"_s, kStart);
        QCOMPARE(overflowing.recordFailure(u"x"_s, kStart), 240.0);
        CooldownMap uncapped{{}, 1e300, 10, std::numeric_limits<double>::infinity()};
        QCOMPARE(uncapped.recordFailure(u"x"_s, kStart), 1e12);
        QCOMPARE(uncapped.entries.value(u"x"_s).untilTs, kStart.addMSecs(qint64(1e15)));
        CooldownMap nanCap{{}, 20, 2, std::numeric_limits<double>::quiet_NaN()};
        QCOMPARE(nanCap.recordFailure(u"x"_s, kStart), 0.0);
        QVERIFY(nanCap.isOffCooldown(u"x"_s, kStart));
    }
};

QTEST_GUILESS_MAIN(CooldownMapTest)
#include "tst_cooldown_map.moc"
