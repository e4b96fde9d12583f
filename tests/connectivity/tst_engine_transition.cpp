#include "connectivity/EngineState.h"

#include <QTest>

using namespace kovra;

namespace {

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

class EngineTransitionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
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

QTEST_GUILESS_MAIN(EngineTransitionTest)
#include "tst_engine_transition.moc"
