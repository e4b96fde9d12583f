#include "connectivity/EngineState.h"

namespace kovra {

EngineTransition transition(EngineState state, const EngineEvent &event, const EngineFlags &flags)
{
    using S = EngineState;
    using A = EngineAction;
    using K = EngineEvent::Kind;
    const K kind = event.kind();
    if (kind == K::disconnected)
        return {S::idle, A::none};

    switch (state) {
    case S::idle:
        if (kind == K::connected)
            return {S::settling, A::beginSettle};
        break;
    case S::settling:
        if (kind == K::settleElapsed)
            return event.online() ? EngineTransition{S::monitoring, A::enterMonitoring}
                                  : EngineTransition{S::confirmingDegraded, A::beginConfirmations};
        break;
    case S::monitoring:
        if (kind == K::tick && !event.online())
            return {S::confirmingDegraded, A::beginConfirmations};
        if (kind == K::repromoteTimer && flags.canWalk && flags.offPreferred && flags.preferredOffCooldown)
            return {S::repromoteProbing, A::beginRepromoteProbe};
        break;
    case S::confirmingDegraded:
        if (kind == K::confirmOnline)
            return {S::monitoring, A::enterMonitoring};
        if (kind == K::confirmsAllDegraded) {
            if (!flags.canWalk)
                return {S::settled, A::settleDegraded};
            return flags.hasCandidates ? EngineTransition{S::switching, A::applyNextCandidate}
                                       : EngineTransition{S::exhausted, A::markExhausted};
        }
        break;
    case S::switching:
        if (kind == K::switchLanded)
            return {S::settling, A::reprobeDense};
        if (kind == K::switchApplyFailed || kind == K::watchdogFired)
            return flags.hasCandidates ? EngineTransition{S::settled, A::settleDegraded}
                                       : EngineTransition{S::exhausted, A::markExhausted};
        break;
    case S::settled:
        if (kind == K::tick && event.online())
            return {S::monitoring, A::enterMonitoring};
        if (kind == K::repromoteTimer && flags.preferredOffCooldown)
            return {S::repromoteProbing, A::beginRepromoteProbe};
        if (kind == K::manualRetry && flags.hasCandidates)
            return {S::switching, A::applyNextCandidate};
        break;
    case S::repromoteProbing:
        if (kind == K::gatePassed)
            return {S::switching, A::applyPreferred};
        if (kind == K::gateFailed)
            return flags.currentHealthy ? EngineTransition{S::monitoring, A::none}
                                        : EngineTransition{S::settled, A::penalizePreferred};
        break;
    case S::exhausted:
        if (kind == K::connected || kind == K::rearm)
            return {S::settling, A::beginSettle};
        break;
    }
    return {state, A::none};
}

QString caseName(EngineState state)
{
    switch (state) {
    case EngineState::idle: return QStringLiteral("idle");
    case EngineState::settling: return QStringLiteral("settling");
    case EngineState::monitoring: return QStringLiteral("monitoring");
    case EngineState::confirmingDegraded: return QStringLiteral("confirmingDegraded");
    case EngineState::switching: return QStringLiteral("switching");
    case EngineState::settled: return QStringLiteral("settled");
    case EngineState::repromoteProbing: return QStringLiteral("repromoteProbing");
    case EngineState::exhausted: return QStringLiteral("exhausted");
    }
    return {};
}

QString caseName(EngineAction action)
{
    switch (action) {
    case EngineAction::none: return QStringLiteral("none");
    case EngineAction::beginSettle: return QStringLiteral("beginSettle");
    case EngineAction::enterMonitoring: return QStringLiteral("enterMonitoring");
    case EngineAction::beginConfirmations: return QStringLiteral("beginConfirmations");
    case EngineAction::applyNextCandidate: return QStringLiteral("applyNextCandidate");
    case EngineAction::applyPreferred: return QStringLiteral("applyPreferred");
    case EngineAction::settleDegraded: return QStringLiteral("settleDegraded");
    case EngineAction::markExhausted: return QStringLiteral("markExhausted");
    case EngineAction::reprobeDense: return QStringLiteral("reprobeDense");
    case EngineAction::beginRepromoteProbe: return QStringLiteral("beginRepromoteProbe");
    case EngineAction::penalizePreferred: return QStringLiteral("penalizePreferred");
    }
    return {};
}

QString caseName(EngineEvent::Kind kind)
{
    using K = EngineEvent::Kind;
    switch (kind) {
    case K::settleElapsed: return QStringLiteral("settleElapsed");
    case K::tick: return QStringLiteral("tick");
    case K::connected: return QStringLiteral("connected");
    case K::disconnected: return QStringLiteral("disconnected");
    case K::confirmOnline: return QStringLiteral("confirmOnline");
    case K::confirmsAllDegraded: return QStringLiteral("confirmsAllDegraded");
    case K::repromoteTimer: return QStringLiteral("repromoteTimer");
    case K::switchLanded: return QStringLiteral("switchLanded");
    case K::switchApplyFailed: return QStringLiteral("switchApplyFailed");
    case K::watchdogFired: return QStringLiteral("watchdogFired");
    case K::gatePassed: return QStringLiteral("gatePassed");
    case K::gateFailed: return QStringLiteral("gateFailed");
    case K::manualRetry: return QStringLiteral("manualRetry");
    case K::rearm: return QStringLiteral("rearm");
    }
    return {};
}

QString EngineEvent::description() const
{
    if (!carriesOnline(m_kind))
        return caseName(m_kind);
    return caseName(m_kind) + (m_online ? QStringLiteral("(online: true)") : QStringLiteral("(online: false)"));
}

} // namespace kovra
