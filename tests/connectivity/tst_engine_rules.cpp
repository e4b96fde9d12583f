#include "connectivity/CandidateRules.h"
#include "connectivity/EngineState.h"

#include <QTest>

#include <limits>

using namespace kovra;
using namespace Qt::StringLiterals;

namespace {

const QDateTime kNow(QDate(2025, 3, 5), QTime(12, 0), Qt::UTC);
const QList<Connection> kBuiltIn = Connection::fallback();

Connection route(const QString &entry, const QString &region, ConnectionKind kind,
                 RegionStatus status = RegionStatus::unknown, QStringList keywords = {})
{
    const QString id = Connection::compose(entry, region);
    return Connection{id, id, {}, entry, region, std::move(keywords), kind, false, status};
}
Connection relay(const QString &entry, const QString &region, RegionStatus status = RegionStatus::unknown)
{
    return route(entry, region, ConnectionKind::relay, status);
}
Connection direct(const QString &region, RegionStatus status = RegionStatus::unknown)
{
    return route(u"direct"_s, region, ConnectionKind::direct, status);
}

CooldownMap::Entries paused(const QString &id, qint64 secondsFromNow)
{
    return {{id, CooldownMap::Entry{kNow.addSecs(secondsFromNow), 1}}};
}


using S = EngineState;
using A = EngineAction;
using K = EngineEvent::Kind;
using E = EngineEvent;

enum Flag { canWalk = 1, hasCandidates = 2, offPreferred = 4, preferredOffCooldown = 8, currentHealthy = 16 };

// The engine's rules row by row: a row applies when every flag in `on` is set and none
// in `off`. A pair no row names keeps its state with no action; `disconnected` leads
// everywhere to idle.
struct Rule {
    S from;
    E event;
    int on, off;
    S to;
    A action;
};
const Rule kRules[] = {
    {S::idle, E(K::connected), 0, 0, S::settling, A::beginSettle},
    {S::settling, E::settleElapsed(true), 0, 0, S::monitoring, A::enterMonitoring},
    {S::settling, E::settleElapsed(false), 0, 0, S::confirmingDegraded, A::beginConfirmations},
    {S::monitoring, E::tick(false), 0, 0, S::confirmingDegraded, A::beginConfirmations},
    {S::monitoring, E(K::repromoteTimer), canWalk | offPreferred | preferredOffCooldown, 0, S::repromoteProbing,
     A::beginRepromoteProbe},
    {S::confirmingDegraded, E(K::confirmOnline), 0, 0, S::monitoring, A::enterMonitoring},
    {S::confirmingDegraded, E(K::confirmsAllDegraded), canWalk | hasCandidates, 0, S::switching, A::applyNextCandidate},
    {S::confirmingDegraded, E(K::confirmsAllDegraded), canWalk, hasCandidates, S::exhausted, A::markExhausted},
    {S::confirmingDegraded, E(K::confirmsAllDegraded), 0, canWalk, S::settled, A::settleDegraded},
    {S::switching, E(K::switchLanded), 0, 0, S::settling, A::reprobeDense},
    {S::switching, E(K::switchApplyFailed), hasCandidates, 0, S::settled, A::settleDegraded},
    {S::switching, E(K::switchApplyFailed), 0, hasCandidates, S::exhausted, A::markExhausted},
    {S::switching, E(K::watchdogFired), hasCandidates, 0, S::settled, A::settleDegraded},
    {S::switching, E(K::watchdogFired), 0, hasCandidates, S::exhausted, A::markExhausted},
    {S::settled, E::tick(true), 0, 0, S::monitoring, A::enterMonitoring},
    {S::settled, E(K::repromoteTimer), preferredOffCooldown, 0, S::repromoteProbing, A::beginRepromoteProbe},
    {S::settled, E(K::manualRetry), hasCandidates, 0, S::switching, A::applyNextCandidate},
    {S::repromoteProbing, E(K::gatePassed), 0, 0, S::switching, A::applyPreferred},
    {S::repromoteProbing, E(K::gateFailed), currentHealthy, 0, S::monitoring, A::none},
    {S::repromoteProbing, E(K::gateFailed), 0, currentHealthy, S::settled, A::penalizePreferred},
    {S::exhausted, E(K::connected), 0, 0, S::settling, A::beginSettle},
    {S::exhausted, E(K::rearm), 0, 0, S::settling, A::beginSettle},
};

EngineTransition expected(S state, const E &event, int bits)
{
    if (event.kind() == K::disconnected)
        return {S::idle, A::none};
    for (const Rule &r : kRules)
        if (r.from == state && r.event == event && (bits & r.on) == r.on && (bits & r.off) == 0)
            return {r.to, r.action};
    return {state, A::none};
}

constexpr S kStates[] = {S::idle,     S::settling, S::monitoring,       S::confirmingDegraded,
                         S::switching, S::settled,  S::repromoteProbing, S::exhausted};

} // namespace

class EngineRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tier_data()
    {
        QTest::addColumn<Connection>("connection");
        QTest::addColumn<int>("tier");
        QTest::newRow("direct awg to nl-awg") << direct(u"nl-awg"_s) << 0;
        QTest::newRow("direct by keyword to nl")
            << route(u"direct"_s, u"nl"_s, ConnectionKind::direct, RegionStatus::online, {u"nl hy2"_s}) << 0;
        QTest::newRow("ru-1 to nl") << relay(u"ru-1"_s, u"nl"_s) << 2;
        QTest::newRow("ru-2 to nl-hy2") << relay(u"ru-2"_s, u"nl-hy2"_s) << 4;
        QTest::newRow("ru-2 to fr") << relay(u"ru-2"_s, u"fr"_s) << 5;
        QTest::newRow("relay through another entry") << relay(u"kz-1"_s, u"nl"_s) << 9;
        QTest::newRow("ru-1 entry on a direct route") << route(u"ru-1"_s, u"nl"_s, ConnectionKind::direct) << 9;
        QTest::newRow("direct with a capitalised Hysteria2 keyword only")
            << route(u"direct"_s, u"de"_s, ConnectionKind::direct, RegionStatus::online, {u"Hysteria2"_s}) << 9;
    }
    void tier()
    {
        QFETCH(Connection, connection);
        QFETCH(int, tier);
        QCOMPARE(candidateTier(connection), tier);
        QCOMPARE(isRuRelay(connection), tier >= 2 && tier <= 5);
    }

    // The candidate list for the connection in use (its entry and region ids).
    void candidates_data()
    {
        QTest::addColumn<QList<Connection>>("catalogue");
        QTest::addColumn<CooldownMap::Entries>("cooldown");
        QTest::addColumn<QString>("currentEntry");
        QTest::addColumn<QString>("currentRegion");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty catalogue") << QList<Connection>() << CooldownMap::Entries() << u"auto"_s << u"auto"_s
                                         << QStringList();
        QTest::newRow("none in use: tier, then position")
            << kBuiltIn << CooldownMap::Entries() << u""_s << u""_s
            << QStringList{u"nl-hy2"_s, u"ee-hy2"_s, u"fr-hy2"_s, u"ru-1__nl"_s, u"ru-1__ee"_s, u"ru-1__fr"_s,
                           u"ru-2__nl"_s, u"ru-2__ee"_s, u"ru-2__fr"_s};
        QTest::newRow("on a ru-1 relay: same entry first, itself left out")
            << kBuiltIn << paused(u"fr-hy2"_s, 0) << u"ru-1"_s << u"nl"_s
            << QStringList{u"ru-1__ee"_s, u"ru-1__fr"_s, u"nl-hy2"_s, u"ee-hy2"_s, u"fr-hy2"_s, u"ru-2__nl"_s,
                           u"ru-2__ee"_s, u"ru-2__fr"_s};
        QTest::newRow("on auto: direct hy2 match first; one on cooldown")
            << kBuiltIn << paused(u"nl-hy2"_s, 1) << u"auto"_s << u"auto"_s
            << QStringList{u"ee-hy2"_s, u"fr-hy2"_s, u"ru-1__nl"_s, u"ru-1__ee"_s, u"ru-1__fr"_s, u"ru-2__nl"_s,
                           u"ru-2__ee"_s, u"ru-2__fr"_s};
        QTest::newRow("unselectable and other kinds dropped, equal tiers by position")
            << QList<Connection>{relay(u"ru-2"_s, u"fr"_s), direct(u"de"_s), relay(u"ru-2"_s, u"ee"_s),
                                 relay(u"ru-1"_s, u"fr"_s, RegionStatus::offline), relay(u"ru-2"_s, u"nl"_s),
                                 direct(u"fr-awg"_s, RegionStatus::starting), relay(u"ru-3"_s, u"nl"_s),
                                 direct(u"ee-hy2"_s, RegionStatus::stopped), relay(u"ru-1"_s, u"ee"_s, RegionStatus::degraded)}
            << CooldownMap::Entries() << u"direct"_s << u"nl-hy2"_s
            << QStringList{u"ru-1__ee"_s, u"ru-2__nl"_s, u"ru-2__fr"_s, u"ru-2__ee"_s};
        QTest::newRow("same entry, other region is not the one in use")
            << QList<Connection>{relay(u"ru-1"_s, u"nl"_s)} << CooldownMap::Entries() << u"ru-1"_s << u"ee"_s
            << QStringList{u"ru-1__nl"_s};
    }
    void candidates()
    {
        QFETCH(QList<Connection>, catalogue);
        QFETCH(CooldownMap::Entries, cooldown);
        QFETCH(QString, currentEntry);
        QFETCH(QString, currentRegion);
        QStringList ids;
        for (const Connection &c : candidateList(catalogue, cooldown, kNow, currentEntry, currentRegion))
            ids << c.id;
        QTEST(ids, "expected");
    }

    void preferred_data()
    {
        QTest::addColumn<QList<Connection>>("catalogue");
        QTest::addColumn<QString>("expected"); // empty: none
        const Connection automatic = kBuiltIn.first();
        QTest::newRow("built-in list") << kBuiltIn << u"nl-hy2"_s;
        QTest::newRow("nl-hy2 after auto") << QList<Connection>{automatic, direct(u"nl-hy2"_s)} << u"nl-hy2"_s;
        QTest::newRow("no nl-hy2: auto") << QList<Connection>{relay(u"ru-1"_s, u"nl"_s), automatic} << u"auto"_s;
        Connection relayed = direct(u"nl-hy2"_s);
        relayed.kind = ConnectionKind::relay;
        QTest::newRow("nl-hy2 that is no direct route") << QList<Connection>{relayed, automatic} << u"auto"_s;
        QTest::newRow("neither") << QList<Connection>{relay(u"ru-1"_s, u"nl"_s), direct(u"ee-hy2"_s)} << QString();
        QTest::newRow("empty") << QList<Connection>() << QString();
    }
    void preferred()
    {
        QFETCH(QList<Connection>, catalogue);
        const std::optional<Connection> got = preferredConnection(catalogue);
        QTEST(got ? got->id : QString(), "expected");
    }

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
            const QDateTime at = kNow.addSecs(failAt.at(i));
            QCOMPARE(map.recordFailure(u"nl-hy2"_s, at), pauses.at(i));
            QCOMPARE(map.entries.value(u"nl-hy2"_s), (CooldownMap::Entry{at.addSecs(qint64(pauses.at(i))), i + 1}));
        }
    }

    void expiryAndSeparateIds()
    {
        CooldownMap map;
        map.recordFailure(u"a"_s, kNow);
        map.recordFailure(u"a"_s, kNow); // until kNow + 40 s
        QVERIFY(!map.isOffCooldown(u"a"_s, kNow.addMSecs(39999)));
        QVERIFY(map.isOffCooldown(u"a"_s, kNow.addSecs(40)));
        QVERIFY(map.isOffCooldown(u"b"_s, kNow));
        QCOMPARE(map.recordFailure(u"b"_s, kNow), 20.0);
        map.setEntry(u"b"_s, std::nullopt);
        QVERIFY(!map.entries.contains(u"b"_s));
        map.clear();
        QCOMPARE(map, CooldownMap());
        QCOMPARE(map.recordFailure(u"a"_s, kNow), 20.0);
    }

    // Odd settings still give a pause and a usable date.
    void extremeSettings()
    {
        CooldownMap overflowing{{}, 20, 2, 240};
        for (int i = 0; i < 1100; ++i) // 2^1100 is no finite double
            overflowing.recordFailure(u"x"_s, kNow);
        QCOMPARE(overflowing.recordFailure(u"x"_s, kNow), 240.0);
        CooldownMap uncapped{{}, 1e300, 10, std::numeric_limits<double>::infinity()};
        QCOMPARE(uncapped.recordFailure(u"x"_s, kNow), 1e12);
        QCOMPARE(uncapped.entries.value(u"x"_s).untilTs, kNow.addMSecs(qint64(1e15)));
        CooldownMap nanCap{{}, 20, 2, std::numeric_limits<double>::quiet_NaN()};
        QCOMPARE(nanCap.recordFailure(u"x"_s, kNow), 0.0);
        QVERIFY(nanCap.isOffCooldown(u"x"_s, kNow));
    }

    // Every state with every event (both results of the two that carry one), each under
    // all 32 flag combinations.
    void transition_data()
    {
        QTest::addColumn<EngineState>("state");
        QTest::addColumn<EngineEvent>("event");
        for (const S state : kStates) {
            for (int k = int(K::settleElapsed); k <= int(K::rearm); ++k) {
                for (const bool online : {false, true}) {
                    if (online && !E::carriesOnline(K(k)))
                        continue;
                    const E event(K(k), online);
                    QTest::addRow("%s × %s", qPrintable(caseName(state)), qPrintable(event.description()))
                        << state << event;
                }
            }
        }
    }
    void transition()
    {
        QFETCH(EngineState, state);
        QFETCH(EngineEvent, event);
        for (int bits = 0; bits < 32; ++bits) {
            const EngineFlags flags{bool(bits & canWalk), bool(bits & hasCandidates), bool(bits & offPreferred),
                                    bool(bits & preferredOffCooldown), bool(bits & currentHealthy)};
            const EngineTransition got = kovra::transition(state, event, flags);
            const EngineTransition want = expected(state, event, bits);
            QVERIFY2(got == want, qPrintable(QStringLiteral("flags %1: got %2/%3, want %4/%5")
                                                 .arg(bits)
                                                 .arg(caseName(got.state), caseName(got.action),
                                                      caseName(want.state), caseName(want.action))));
        }
    }
};

QTEST_GUILESS_MAIN(EngineRulesTest)
#include "tst_engine_rules.moc"
