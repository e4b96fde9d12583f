// The controller's moves: acting on the reducer's actions, walking to the next
// candidate, returning to the preferred route, re-arming, the watchdog and notices.

#include "connectivity/CandidateRules.h"
#include "connectivity/KovraConnectivityController.h"
#include "tunnel/TunnelController.h"

using namespace Qt::StringLiterals;

namespace kovra {
namespace {

using telemetry::boolText;

// A pause as whole seconds (the fraction dropped).
qint64 wholeSeconds(double seconds) { return seconds >= 0 && seconds < 0x1p62 ? qint64(seconds) : 0; }

bool isDirectHy2OrAwg(const Connection &connection)
{
    return connection.kind == ConnectionKind::direct && connection.isHy2OrAwg();
}

} // namespace

void KovraConnectivityController::perform(EngineAction action)
{
    switch (action) {
    case EngineAction::none:
    case EngineAction::beginSettle:
    case EngineAction::settleDegraded:
    case EngineAction::beginRepromoteProbe: return;
    case EngineAction::enterMonitoring:
        m_degradedStreak = 0;
        checkLandedOnPreferred();
        return;
    case EngineAction::beginConfirmations: m_degradedStreak = 1; return;
    case EngineAction::applyNextCandidate:
        startTask(m_switchTask, [this](CancellationToken token) { return walkToNextCandidate(token); });
        return;
    case EngineAction::applyPreferred:
        startTask(m_switchTask, [this](CancellationToken token) { return applyPreferredConnection(token); });
        return;
    case EngineAction::markExhausted:
        setAutoManaged(false);
        refreshIsResolving();
        showNotice(Notice::fallbackFailed);
        return;
    case EngineAction::reprobeDense: openDenseWindow(); return;
    case EngineAction::penalizePreferred:
        if (const std::optional<Connection> target = preferred())
            m_cooldown.recordFailure(target->id, m_options.clock->now());
        return;
    }
}

std::optional<Connection> KovraConnectivityController::preferred() const
{
    return preferredConnection(m_connections->connections());
}

bool KovraConnectivityController::isSelected(const Connection &route) const
{
    if (const std::optional<Connection> current = m_connections->currentConnection(); current && current->id == route.id)
        return true;
    return m_connections->selectedRegionID() == route.regionID && route.matches(m_connections->selectedEntryID());
}

std::optional<Connection> KovraConnectivityController::connectionBeingLeft() const
{
    if (std::optional<Connection> resolved = m_connections->resolvedExitConnection())
        return resolved;
    return m_connections->currentConnection();
}

// A walk that ends on the preferred route hands the route back once it is known to
// work: a direct Hysteria2/AmneziaWG route at once, any other after healthy traffic.
void KovraConnectivityController::checkLandedOnPreferred()
{
    if (m_repromoteInProgress || !m_autoManaged)
        return;
    const std::optional<Connection> target = preferred();
    if (!target || !isSelected(*target))
        return;
    if (!isDirectHy2OrAwg(*target) && !m_sawHealthyThroughput)
        return;
    setAutoManaged(false);
    m_cooldown.setEntry(target->id, std::nullopt);
    m_sawHealthyThroughput = false;
    refreshIsResolving();
    m_log.info(u"walk landed on preferred (kept): %1"_s.arg(target->id));
}

QCoro::Task<bool> KovraConnectivityController::applyCandidate(Connection candidate, bool penalizeCurrent,
                                                              std::optional<bool> closeMode, CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    const std::optional<Connection> leaving = connectionBeingLeft();
    if (penalizeCurrent && leaving && leaving->id != candidate.id) {
        const double pause = m_cooldown.recordFailure(leaving->id, m_options.clock->now());
        m_log.info(u"cooldown: penalized %1 for %2s"_s.arg(leaving->id).arg(wholeSeconds(pause)));
    }
    setAutoManaged(true);
    refreshIsResolving();

    // A route that keeps the entry point switches in place; any other reconnects.
    const bool silent = candidate.matches(m_connections->selectedEntryID());
    m_expectingReconnect = !silent;
    if (!silent)
        armReconnectWatchdog();
    showNotice(Notice::fellBackToRelay);

    const std::shared_ptr<EngineConnections> connections = m_connections;
    const bool closeConnections = closeMode ? silent : false;
    const bool applied = co_await connections->selectConnection(candidate, silent, closeConnections);
    if (!self || token.isCancelled())
        co_return applied;

    if (applied) {
        m_log.info(u"switch: to %1 silent=%2"_s.arg(candidate.id, boolText(silent)));
        if (silent) {
            dispatch(EngineEvent(EngineEvent::Kind::switchLanded));
            m_degradedStreak = 0;
            openDenseWindow();
            restartMonitorTask(true);
        }
    } else {
        m_expectingReconnect = false;
        cancelTask(m_reconnectWatchdog);
        m_log.error(u"switch: candidate %1 not selectable on apply"_s.arg(candidate.id));
    }
    co_return applied;
}

QCoro::Task<void> KovraConnectivityController::walkToNextCandidate(CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    const std::shared_ptr<EngineConnections> connections = m_connections;
    co_await connections->refreshResolvedExit();
    if (!self || token.isCancelled())
        co_return;

    const std::optional<Connection> leaving = connectionBeingLeft();
    QList<Connection> candidates =
        candidateList(m_connections->connections(), m_cooldown.entries, m_options.clock->now(),
                      m_connections->selectedEntryID(), leaving ? leaving->regionID : QString());
    // With the automatic entry selected the route being left can pass the "not in use"
    // rule; moving "to" it would never get away from it.
    if (leaving)
        candidates.removeIf([&leaving](const Connection &c) { return c.id == leaving->id; });

    if (!candidates.isEmpty()) {
        const Connection next = candidates.first();
        const std::optional<bool> closeMode = false;
        const bool applied = co_await applyCandidate(next, true, closeMode, token);
        if (!self || token.isCancelled() || applied)
            co_return;
    }
    failSwitch();
}

QCoro::Task<void> KovraConnectivityController::applyPreferredConnection(CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    if (const std::optional<Connection> target = preferred()) {
        const std::optional<bool> closeMode;
        const bool applied = co_await applyCandidate(*target, false, closeMode, token);
        if (!self || token.isCancelled() || applied)
            co_return;
    }
    m_repromoteInProgress = false;
    failSwitch();
}

void KovraConnectivityController::failSwitch()
{
    dispatch(EngineEvent(EngineEvent::Kind::switchApplyFailed));
    m_degradedStreak = 0;
    restartMonitorTask(false);
}

// MARK: re-promotion

bool KovraConnectivityController::isRepromoteDue() const
{
    if (m_repromoteInProgress || !m_autoManaged)
        return false;
    const std::optional<Connection> target = preferred();
    if (!target)
        return false;
    if (isSelected(*target))
        return false;
    const QDateTime now = m_options.clock->now();
    if (!m_cooldown.isOffCooldown(target->id, now))
        return false;
    return !m_lastRepromoteAt || m_lastRepromoteAt->msecsTo(now) >= m_options.repromoteSpacing.count();
}

void KovraConnectivityController::startRepromotion()
{
    const EngineFlags flags = currentFlags(false);
    dispatch(EngineEvent(EngineEvent::Kind::repromoteTimer), flags);
    if (m_state != EngineState::repromoteProbing)
        return;
    m_lastRepromoteAt = m_options.clock->now();
    if (!preferred()) {
        dispatch(EngineEvent(EngineEvent::Kind::gateFailed), currentFlags(m_lastReachable && !m_isThrottled));
        return;
    }
    m_repromoteInProgress = true;
    m_repromoteFrom = m_connections->currentConnection();
    m_repromoteDeadline.reset();
    m_preferredOnlineStreak = 0;
    m_sawHealthyThroughput = false;
    dispatch(EngineEvent(EngineEvent::Kind::gatePassed), flags);
}

QCoro::Task<void> KovraConnectivityController::repromoteTrial(CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    const std::optional<Connection> target = preferred();
    if (!target) {
        m_repromoteInProgress = false;
        co_return;
    }
    // The bound runs from the first trial tick, so that a move never seen landing
    // cannot hold the ticks forever.
    const QDateTime now = m_options.clock->now();
    if (!m_repromoteDeadline)
        m_repromoteDeadline = now.addMSecs(m_options.repromoteDeadline.count());
    if (!isSelected(*target)) {
        if (now >= *m_repromoteDeadline)
            abandonRepromotion(*target);
        co_return; // the move has not landed yet
    }

    const QString phase = u"repromote-trial"_s;
    co_await stampHeartbeatAndProbe(phase, token);
    if (!self || token.isCancelled() || !isTunnelConnected())
        co_return;

    enum class Outcome { keep, revert, wait } outcome = Outcome::wait;
    if (isDirectHy2OrAwg(*target)) {
        // Two reachable passes in a row; no deadline.
        if (m_lastReachable) {
            ++m_preferredOnlineStreak;
            outcome = m_preferredOnlineStreak >= 2 ? Outcome::keep : Outcome::wait;
        } else {
            m_preferredOnlineStreak = 0;
            outcome = Outcome::revert;
        }
    } else {
        if (m_lastReachable && !m_isThrottled)
            outcome = m_sawHealthyThroughput ? Outcome::keep : Outcome::wait;
        else
            outcome = Outcome::revert;
        if (outcome == Outcome::wait && m_options.clock->now() >= *m_repromoteDeadline)
            outcome = Outcome::revert;
    }
    if (outcome == Outcome::keep)
        keepRepromotion(*target);
    else if (outcome == Outcome::revert)
        co_await revertRepromotion(*target, token);
}

void KovraConnectivityController::keepRepromotion(const Connection &target)
{
    m_repromoteInProgress = false;
    m_repromoteDeadline.reset();
    m_preferredOnlineStreak = 0;
    setAutoManaged(false);
    m_cooldown.setEntry(target.id, std::nullopt);
    m_sawHealthyThroughput = false;
    setState(EngineState::monitoring, u"repromotion-kept"_s, true);
    m_log.info(u"re-promotion kept: preferred %1"_s.arg(target.id));
}

QCoro::Task<void> KovraConnectivityController::revertRepromotion(Connection target, CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    m_repromoteInProgress = false;
    m_repromoteDeadline.reset();
    m_preferredOnlineStreak = 0;
    const double pause = m_cooldown.recordFailure(target.id, m_options.clock->now());
    m_log.info(u"re-promotion reverted: preferred %1 cooldown %2s"_s.arg(target.id).arg(wholeSeconds(pause)));
    if (const std::optional<Connection> from = m_repromoteFrom) {
        setState(EngineState::switching, u"repromotion-revert"_s, true);
        const std::optional<bool> closeMode = true;
        const bool applied = co_await applyCandidate(*from, false, closeMode, token);
        if (!self || token.isCancelled() || applied)
            co_return;
    }
    co_await walkToNextCandidate(token);
}

void KovraConnectivityController::abandonRepromotion(const Connection &target)
{
    clearRepromotion();
    const double pause = m_cooldown.recordFailure(target.id, m_options.clock->now());
    m_log.error(u"re-promotion did not land: preferred %1 cooldown %2s"_s.arg(target.id).arg(wholeSeconds(pause)));
}

void KovraConnectivityController::clearRepromotion()
{
    m_repromoteInProgress = false;
    m_repromoteFrom.reset();
    m_repromoteDeadline.reset();
    m_preferredOnlineStreak = 0;
}

// MARK: rearm, watchdog, notices

void KovraConnectivityController::rearm(bool clearCooldowns, const QString &reason)
{
    if (m_state != EngineState::exhausted)
        return;
    if (clearCooldowns)
        m_cooldown.clear();
    m_log.info(u"rearm: %1"_s.arg(reason));
    dispatch(EngineEvent(EngineEvent::Kind::rearm));
    if (m_state == EngineState::settling) {
        openDenseWindow();
        restartMonitorTask(true);
    }
}

void KovraConnectivityController::armReconnectWatchdog()
{
    startTask(m_reconnectWatchdog, [this](CancellationToken token) { return reconnectWatchdog(token); });
}

QCoro::Task<void> KovraConnectivityController::reconnectWatchdog(CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    co_await sleepOn(m_options.clock, m_options.reconnectWatchdog, token);
    if (!self || token.isCancelled() || !m_expectingReconnect)
        co_return;
    m_log.error(u"reconnect watchdog fired — walk reset"_s);
    m_expectingReconnect = false;
    const VPNStatus status = m_tunnel ? m_tunnel->status() : VPNStatus::Disconnected;
    if (!vpn::isUp(status)) {
        // The tunnel was stopped while the move awaited its reconnect (a user's
        // disconnect): judge nothing, as after any other disconnect.
        onTunnelDisconnected();
        co_return;
    }
    clearRepromotion();
    dispatch(EngineEvent(EngineEvent::Kind::watchdogFired));
    m_degradedStreak = 0;
    restartMonitorTask(false);
}

void KovraConnectivityController::showNotice(Notice notice)
{
    setNotice(notice);
    startTask(m_noticeTask, [this](CancellationToken token) { return clearNoticeLater(token); });
}

QCoro::Task<void> KovraConnectivityController::clearNoticeLater(CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    co_await sleepOn(m_options.clock, m_options.noticeDuration, token);
    if (!self || token.isCancelled())
        co_return;
    if (m_notice)
        setNotice(std::nullopt);
}

} // namespace kovra
