#include "connectivity/KovraConnectivityController.h"

#include "connectivity/AppGroupThroughputSource.h"
#include "connectivity/AppReachabilityProbe.h"
#include "connectivity/CandidateRules.h"
#include "connectivity/ConnectivityVerdict.h"
#include "connectivity/SystemNetworkPathMonitor.h"
#include "platform/Error.h"
#include "platform/Property.h"
#include "tunnel/TunnelController.h"

#include <QMutex>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace kovra {
namespace {

using telemetry::boolText;

} // namespace

// The path monitor calls its handler on its own thread; the handler posts the change
// to the controller under this lock, which the controller's destructor takes to
// detach it, so no post can reach a controller being destroyed.
struct KovraConnectivityController::PathHop {
    QMutex lock;
    KovraConnectivityController *target = nullptr;
};

KovraConnectivityController::KovraConnectivityController(std::shared_ptr<EngineConnections> connections,
                                                         TunnelController *tunnel, AppGroupStore appGroup,
                                                         std::shared_ptr<AppReachabilityProbing> probe,
                                                         std::shared_ptr<ThroughputSampling> throughput,
                                                         std::shared_ptr<NetworkPathMonitoring> pathMonitor,
                                                         Options options, QObject *parent)
    : ConnectivityEngine(parent), m_connections(std::move(connections)), m_tunnel(tunnel),
      m_probe(std::move(probe)), m_throughput(std::move(throughput)), m_appGroup(std::move(appGroup)),
      m_pathMonitor(std::move(pathMonitor)), m_pathHop(std::make_shared<PathHop>()), m_options(std::move(options))
{
    if (!m_connections)
        m_connections = std::make_shared<StoreEngineConnections>(nullptr);
    if (!m_options.clock)
        m_options.clock = Clock::system();
    if (!m_probe)
        m_probe = std::make_shared<AppReachabilityProbe>();
    if (!m_throughput)
        m_throughput = std::make_shared<AppGroupThroughputSource>(AppGroupThroughputSource::live(m_appGroup));
    if (!m_pathMonitor)
        m_pathMonitor = std::make_shared<SystemNetworkPathMonitor>();

    m_pathHop->target = this;
    m_pathMonitor->setChangeHandler([hop = m_pathHop] {
        const QMutexLocker locker(&hop->lock);
        if (KovraConnectivityController *target = hop->target)
            QMetaObject::invokeMethod(target, [target] { target->handleNetworkPathChange(); }, Qt::QueuedConnection);
    });
}

KovraConnectivityController::~KovraConnectivityController()
{
    {
        const QMutexLocker locker(&m_pathHop->lock);
        m_pathHop->target = nullptr;
    }
    for (TaskSlot *slot : {&m_pathChangeTask, &m_monitorTask, &m_throughputTask, &m_switchTask, &m_noticeTask,
                           &m_reconnectWatchdog})
        cancelTask(*slot);
    m_pathMonitor->stop();
}

// MARK: tunnel status

void KovraConnectivityController::handleTunnelStatus(VPNStatus status)
{
    switch (status) {
    case VPNStatus::Connecting:
    case VPNStatus::Reasserting:
    case VPNStatus::Disconnecting:
        cancelTask(m_monitorTask);
        cancelTask(m_throughputTask);
        return;
    case VPNStatus::Connected: onTunnelConnected(); return;
    case VPNStatus::Invalid:
    case VPNStatus::Disconnected: onTunnelDisconnected(); return;
    }
    // Values outside the tunnel's numbering are ignored.
}

bool KovraConnectivityController::isTunnelConnected() const
{
    return m_tunnel && m_tunnel->status() == VPNStatus::Connected;
}

void KovraConnectivityController::onTunnelConnected()
{
    m_pathMonitor->start();
    const bool wasExpecting = m_expectingReconnect;
    m_expectingReconnect = false;
    cancelTask(m_reconnectWatchdog);
    if (wasExpecting && m_state == EngineState::switching) {
        dispatch(EngineEvent(EngineEvent::Kind::switchLanded));
    } else {
        resetWalk();
        setState(EngineState::settling, u"connected"_s, true);
    }
    if (m_state != EngineState::confirmingDegraded)
        m_degradedStreak = 0;
    openDenseWindow();
    startThroughputTask();
    restartMonitorTask(m_state != EngineState::confirmingDegraded);
}

void KovraConnectivityController::onTunnelDisconnected()
{
    cancelTask(m_pathChangeTask);
    m_pathMonitor->stop();
    cancelTask(m_monitorTask);
    cancelTask(m_throughputTask);
    // The disconnect of an engine move's reconnect: the walk goes on.
    if (m_expectingReconnect)
        return;
    cancelTask(m_switchTask);
    resetWalk();
    cancelTask(m_reconnectWatchdog);
    setState(EngineState::idle, u"disconnected"_s, true);
    setSnapshot(std::nullopt);
}

void KovraConnectivityController::resetWalk()
{
    m_cooldown.clear();
    m_throttleTracker.starvedSince.reset();
    m_isThrottled = false;
    setAutoManaged(false);
    clearRepromotion();
}

// MARK: tasks

void KovraConnectivityController::startTask(TaskSlot &slot, TaskBody body)
{
    cancelTask(slot);
    slot.emplace();
    const CancellationToken token = slot->cancellation.token();
    slot->start = m_options.clock->startTimer(0ms, [self = QPointer(this), token, body = std::move(body)] {
        if (!self || token.isCancelled())
            return;
        QCoro::Task<void> task = body(token);
        runGuarded(self, std::move(task));
    });
}

void KovraConnectivityController::cancelTask(TaskSlot &slot)
{
    if (!slot)
        return;
    slot->cancellation.cancel();
    slot.reset();
}

QCoro::Task<void> KovraConnectivityController::runGuarded(QPointer<KovraConnectivityController> self,
                                                          QCoro::Task<void> task)
{
    try {
        co_await std::move(task);
    } catch (const CancellationError &) {
    } catch (...) {
        const QString what = descriptionOf(std::current_exception());
        if (self)
            self->m_log.error(u"engine task failed: %1"_s.arg(what));
    }
}

QCoro::Task<void> KovraConnectivityController::sleepOn(std::shared_ptr<Clock> clock,
                                                       std::chrono::milliseconds interval, CancellationToken token)
{
    co_await clock->sleep(interval, token);
}

void KovraConnectivityController::startThroughputTask()
{
    cancelTask(m_throughputTask);
    if (m_options.throughputPoll.count() > 0)
        startTask(m_throughputTask, [this](CancellationToken token) { return throughputLoop(token); });
}

void KovraConnectivityController::restartMonitorTask(bool immediate)
{
    cancelTask(m_monitorTask);
    if (isTunnelConnected())
        startTask(m_monitorTask, [this, immediate](CancellationToken token) { return monitorLoop(immediate, token); });
}

// MARK: monitor loop

std::optional<std::chrono::milliseconds> KovraConnectivityController::nextTickDelay() const
{
    switch (m_state) {
    case EngineState::monitoring:
        if (m_denseUntil && m_options.clock->now() < *m_denseUntil)
            return m_options.denseTick;
        return m_options.sparseTick;
    case EngineState::confirmingDegraded:
        if (m_options.confirmInterval.count() > 0)
            return m_options.confirmInterval;
        return std::nullopt;
    case EngineState::settled:
    case EngineState::exhausted: return m_options.settledTick;
    case EngineState::idle:
    case EngineState::settling:
    case EngineState::switching:
    case EngineState::repromoteProbing: return std::nullopt;
    }
    return std::nullopt;
}

QCoro::Task<void> KovraConnectivityController::monitorLoop(bool immediate, CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    const std::shared_ptr<Clock> clock = m_options.clock;
    if (immediate) {
        if (m_options.settleDelay.count() > 0) {
            co_await sleepOn(clock, m_options.settleDelay, token);
            if (!self)
                co_return;
        }
        if (token.isCancelled() || !isTunnelConnected())
            co_return;
        openDenseWindow();
        const QString phase = u"settle"_s;
        const ConnectivityVerdict verdict = co_await stampHeartbeatAndProbe(phase, token);
        if (!self || token.isCancelled() || !isTunnelConnected())
            co_return;
        dispatch(EngineEvent::settleElapsed(verdict == ConnectivityVerdict::online));
    }
    for (;;) {
        if (token.isCancelled())
            co_return;
        const std::optional<std::chrono::milliseconds> delay = nextTickDelay();
        if (!delay)
            co_return;
        co_await sleepOn(clock, *delay, token);
        if (!self || token.isCancelled() || !isTunnelConnected())
            co_return;
        co_await tick(token);
        if (!self)
            co_return;
    }
}

QCoro::Task<void> KovraConnectivityController::tick(CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    if (m_state == EngineState::exhausted) {
        if (currentFlags(false).hasCandidates)
            rearm(false, u"cooldown-expired"_s);
        co_return;
    }
    if (m_repromoteInProgress) {
        co_await repromoteTrial(token);
        co_return;
    }
    if ((m_state == EngineState::monitoring || m_state == EngineState::settled) && isRepromoteDue()) {
        startRepromotion();
        co_return;
    }
    QString phase = u"tick"_s;
    if (m_state == EngineState::monitoring)
        phase = u"cadence"_s;
    else if (m_state == EngineState::settled)
        phase = u"settled-reprobe"_s;
    else if (m_state == EngineState::confirmingDegraded)
        phase = u"confirmation"_s;
    const ConnectivityVerdict verdict = co_await stampHeartbeatAndProbe(phase, token);
    if (!self || token.isCancelled() || !isTunnelConnected())
        co_return;
    const bool online = verdict == ConnectivityVerdict::online;
    switch (m_state) {
    case EngineState::monitoring:
    case EngineState::settled: dispatch(EngineEvent::tick(online)); break;
    case EngineState::confirmingDegraded:
        if (online) {
            dispatch(EngineEvent(EngineEvent::Kind::confirmOnline));
        } else if (++m_degradedStreak >= 3) {
            dispatch(EngineEvent(EngineEvent::Kind::confirmsAllDegraded));
        }
        break;
    default: break;
    }
}

// MARK: probe pass

QCoro::Task<ConnectivityVerdict> KovraConnectivityController::stampHeartbeatAndProbe(QString phase,
                                                                                    CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    if (m_appGroup.boolValue(AppGroupKey::backgroundReliabilityArmed, true))
        m_appGroup.setAppHeartbeat(m_options.clock->now());
    const std::shared_ptr<AppReachabilityProbing> probe = m_probe;
    ReachabilitySnapshot result = co_await probe->probe(token);
    if (!self || token.isCancelled() || !isTunnelConnected())
        co_return ConnectivityVerdict::idle;

    // Two of the three gating services suffice.
    const bool reachable = result.gatingReachableCount() >= 2;
    setSnapshot(std::move(result));
    m_lastReachable = reachable;
    const ConnectivityVerdict verdict =
        reachable && !m_isThrottled ? ConnectivityVerdict::online : ConnectivityVerdict::degraded;
    m_log.info(u"verdict=%1 reachable=%2 throttled=%3 state=%4"_s.arg(caseName(verdict), boolText(reachable),
                                                                      boolText(m_isThrottled), caseName(m_state)));
    m_telemetry.append(telemetry::tickLine(m_options.clock->now(),
                                           {phase, m_state, verdict, reachable, m_isThrottled, m_lastThroughputSample,
                                            m_lastThroughputWasFresh, routeID(), m_autoManaged}));
    co_return verdict;
}

// MARK: throughput

QCoro::Task<void> KovraConnectivityController::throughputLoop(CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    const std::shared_ptr<Clock> clock = m_options.clock;
    for (;;) {
        readThroughput();
        co_await sleepOn(clock, m_options.throughputPoll, token);
        if (!self || token.isCancelled())
            co_return;
    }
}

void KovraConnectivityController::readThroughput()
{
    const QDateTime now = m_options.clock->now();
    const std::optional<ThroughputSample> sample =
        ThroughputSample::fromShared(m_throughput->latest(), now, m_options.maxSampleAge);
    // A sample already fed is not fed again: a provider that stopped writing ends a
    // starvation run instead of prolonging it.
    const bool fed = sample && (!m_lastFedSampleAt || *m_lastFedSampleAt != sample->sampledAt);
    if (fed)
        m_lastFedSampleAt = sample->sampledAt;
    m_lastThroughputSample = sample;
    m_lastThroughputWasFresh = fed;
    m_isThrottled = m_throttleTracker.update(fed ? sample : std::nullopt, now);
    if (fed && sample->rxRate >= 8192)
        m_sawHealthyThroughput = true;
}

// MARK: network path

void KovraConnectivityController::handleNetworkPathChange()
{
    startTask(m_pathChangeTask, [this](CancellationToken token) { return pathChangeDebounce(token); });
}

QCoro::Task<void> KovraConnectivityController::pathChangeDebounce(CancellationToken token)
{
    const QPointer<KovraConnectivityController> self(this);
    if (m_options.pathChangeDebounce.count() > 0) {
        co_await sleepOn(m_options.clock, m_options.pathChangeDebounce, token);
        if (!self)
            co_return;
    }
    if (token.isCancelled())
        co_return;
    m_pathChangeTask.reset();
    if (m_state == EngineState::exhausted)
        rearm(true, u"network-path-change"_s);
    else
        openDenseWindow();
}

// MARK: reducer

EngineFlags KovraConnectivityController::currentFlags(bool currentHealthy) const
{
    const QDateTime now = m_options.clock->now();
    const std::optional<Connection> current = m_connections->currentConnection();
    const QList<Connection> connections = m_connections->connections();
    const std::optional<Connection> preferred = preferredConnection(connections);
    EngineFlags flags;
    flags.canWalk = m_connections->selectedEntryID() == u"auto" || m_autoManaged;
    flags.hasCandidates = !candidateList(connections, m_cooldown.entries, now, current ? current->entry : QString(),
                                         current ? current->regionID : QString())
                               .isEmpty();
    flags.offPreferred = m_autoManaged && preferred && !isSelected(*preferred);
    flags.preferredOffCooldown = preferred && m_cooldown.isOffCooldown(preferred->id, now);
    flags.currentHealthy = currentHealthy;
    return flags;
}

void KovraConnectivityController::dispatch(const EngineEvent &event, std::optional<EngineFlags> flags)
{
    if (m_engineEventObserver)
        m_engineEventObserver(event);
    const EngineFlags used = flags ? *flags : currentFlags(false);
    const EngineTransition next = transition(m_state, event, used);
    if (next.state != m_state)
        appendTransition(m_state, next.state, event.description(), caseName(next.action));
    setState(next.state, u"internal"_s, false);
    perform(next.action);
}

void KovraConnectivityController::setState(EngineState state, const QString &reason, bool log)
{
    if (log && state != m_state)
        appendTransition(m_state, state, reason, u"direct"_s);
    m_state = state;
    updateProperty(m_verdict, verdictOf(state), static_cast<ConnectivityEngine *>(this),
                   &ConnectivityEngine::verdictChanged);
    refreshIsResolving();
}

void KovraConnectivityController::refreshIsResolving()
{
    const bool resolving =
        m_state == EngineState::settling || m_state == EngineState::switching || m_expectingReconnect;
    updateProperty(m_isResolving, resolving, static_cast<ConnectivityEngine *>(this),
                   &ConnectivityEngine::isResolvingChanged);
}

void KovraConnectivityController::openDenseWindow()
{
    m_denseUntil = m_options.clock->now().addMSecs(m_options.denseWindow.count());
    m_sawHealthyThroughput = false;
}

void KovraConnectivityController::appendTransition(EngineState from, EngineState to, const QString &event,
                                                   const QString &action)
{
    m_telemetry.append(
        telemetry::transitionLine(m_options.clock->now(), from, to, event, action, routeID(), m_autoManaged));
}

std::optional<QString> KovraConnectivityController::routeID() const
{
    const std::optional<Connection> current = m_connections->currentConnection();
    return current ? std::optional<QString>(current->id) : std::nullopt;
}

// MARK: published fields

void KovraConnectivityController::setSnapshot(std::optional<ReachabilitySnapshot> snapshot)
{
    updateProperty(m_snapshot, std::move(snapshot), this, &KovraConnectivityController::snapshotChanged);
}

void KovraConnectivityController::setNotice(std::optional<Notice> notice)
{
    updateProperty(m_notice, notice, this, &KovraConnectivityController::noticeChanged);
}

void KovraConnectivityController::setAutoManaged(bool value)
{
    m_autoManaged = value;
    m_appGroup.defaults()->set(AppGroupKey::backgroundReliabilityAutoManaged, value);
}

} // namespace kovra
