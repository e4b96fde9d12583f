#pragma once

#include "connectivity/AppReachabilityProbing.h"
#include "connectivity/ConnectivityEngine.h"
#include "connectivity/CooldownMap.h"
#include "connectivity/EngineConnections.h"
#include "connectivity/EngineState.h"
#include "connectivity/NetworkPathMonitoring.h"
#include "connectivity/ReachabilitySnapshot.h"
#include "connectivity/ReliabilityTelemetry.h"
#include "connectivity/TelemetrySource.h"
#include "connectivity/ThrottleTracker.h"
#include "connectivity/ThroughputSampling.h"
#include "core/AppGroupStore.h"
#include "platform/Cancellation.h"
#include "platform/Clock.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kovra {

class TunnelController;

// Every interval of the engine; the defaults are the product's.
struct KovraConnectivityControllerOptions {
    // Wait after a connect (or a landed switch) before the first judgement; 0 judges at once.
    std::chrono::milliseconds settleDelay{3000};
    // Spacing of the passes that confirm a degradation; 0 stops the monitor on entering one.
    std::chrono::milliseconds confirmInterval{3000};
    // Throughput polling; 0 runs no throughput task.
    std::chrono::milliseconds throughputPoll{2000};
    // A burst of network-path changes within this time acts once.
    std::chrono::milliseconds pathChangeDebounce{2500};
    // Monitor ticks: inside the dense window, after it, and while settled or exhausted.
    std::chrono::milliseconds denseTick{8000};
    std::chrono::milliseconds sparseTick{30000};
    std::chrono::milliseconds settledTick{20000};
    // How long the dense ticking lasts once opened (connect, settle pass, path change, landing).
    std::chrono::milliseconds denseWindow{120000};
    // How long a move that reconnects the tunnel may take before the walk is reset.
    std::chrono::milliseconds reconnectWatchdog{35000};
    // How long a notice shows.
    std::chrono::milliseconds noticeDuration{6000};
    // Least time between two re-promotions, and the trial's bound on the preferred route.
    std::chrono::milliseconds repromoteSpacing{20000};
    std::chrono::milliseconds repromoteDeadline{15000};
    // Throughput samples older than this count as none.
    std::chrono::milliseconds maxSampleAge{8000};
    // Dates, sleeps and timers.
    std::shared_ptr<Clock> clock = Clock::system();
};

// The reliability engine's controller. While the tunnel is connected it settles, then
// probes well-known services through the tunnel on a schedule, polls the provider's
// throughput samples for throttling and re-judges after network-path changes. Each
// observation goes through the pure transition rule; the controller publishes the
// verdict, records every transition in its telemetry, and acts: it walks away from a
// degraded route to the next candidate (putting the route it leaves on cooldown),
// returns to the preferred route when that recovers, and gives up (exhausted) when no
// candidate is left.
//
// A move that keeps the entry lands at once; one that changes the entry reconnects the
// tunnel, which the controller expects (a disconnect then does not reset it) and
// watches with a watchdog. Whether the engine manages the route itself is mirrored
// into AppGroupKey::backgroundReliabilityAutoManaged; before every probe pass the app
// heartbeat is stamped while AppGroupKey::backgroundReliabilityArmed (absent: true) is.
//
// The tunnel controller is held weakly: without it the tunnel counts as not connected.
// The controller installs its own change handler on the path monitor (it hops to this
// object's thread), starts the monitor on connect and stops it on disconnect. Every
// task holds the controller weakly and ends when it is gone. Lives on the GUI thread.
class KovraConnectivityController final : public ConnectivityEngine, public TelemetrySource {
    Q_OBJECT
    Q_PROPERTY(std::optional<kovra::ReachabilitySnapshot> snapshot READ snapshot NOTIFY snapshotChanged)
    Q_PROPERTY(std::optional<kovra::KovraConnectivityController::Notice> notice READ notice NOTIFY noticeChanged)
public:
    using Options = KovraConnectivityControllerOptions;

    // What the engine shows the user for a while: a move it made on its own, or giving up.
    enum class Notice { fellBackToRelay, fallbackFailed };
    Q_ENUM(Notice)

    // `connections` is usually StoreEngineConnections over the app's ConnectionStore (null:
    // an empty catalogue). A null probe, throughput source or path monitor is replaced by
    // the product's: AppReachabilityProbe, the app group's throughput record,
    // SystemNetworkPathMonitor.
    KovraConnectivityController(std::shared_ptr<EngineConnections> connections, TunnelController *tunnel,
                                AppGroupStore appGroup, std::shared_ptr<AppReachabilityProbing> probe = nullptr,
                                std::shared_ptr<ThroughputSampling> throughput = nullptr,
                                std::shared_ptr<NetworkPathMonitoring> pathMonitor = nullptr, Options options = {},
                                QObject *parent = nullptr);
    ~KovraConnectivityController() override;

    // ConnectivityEngine
    ConnectivityVerdict verdict() const override { return m_verdict; }
    bool isResolving() const override { return m_isResolving; }
    void handleTunnelStatus(VPNStatus status) override;

    // TelemetrySource
    QStringList telemetryLines() const override { return m_telemetry.lines; }

    // The last probe pass of the running tunnel; none once it disconnected.
    const std::optional<ReachabilitySnapshot> &snapshot() const { return m_snapshot; }
    const std::optional<Notice> &notice() const { return m_notice; }
    const ReliabilityTelemetryBuffer &telemetry() const { return m_telemetry; }

    EngineState state() const { return m_state; }
    // Whether the engine chose the route in use itself.
    bool isAutoManaged() const { return m_autoManaged; }
    const CooldownMap &cooldown() const { return m_cooldown; }

    // Sees every event before it is reduced (none by default).
    void setEngineEventObserver(std::function<void(const EngineEvent &)> observer)
    {
        m_engineEventObserver = std::move(observer);
    }

    // The host's network path changed: after the debounce, an exhausted engine re-arms
    // with its cooldowns cleared; otherwise the dense ticking restarts.
    void handleNetworkPathChange();

Q_SIGNALS:
    void snapshotChanged();
    void noticeChanged();

private:
    struct TaskHandle {
        CancellationSource cancellation;
        std::unique_ptr<ClockTimer> start; // until the body has started
    };
    using TaskSlot = std::optional<TaskHandle>;
    using TaskBody = std::function<QCoro::Task<void>(CancellationToken)>;
    struct PathHop;

    // Lifecycle and monitoring.
    void onTunnelConnected();
    void onTunnelDisconnected();
    bool isTunnelConnected() const;
    void resetWalk();
    void startThroughputTask();
    void restartMonitorTask(bool immediate);
    std::optional<std::chrono::milliseconds> nextTickDelay() const;
    QCoro::Task<void> monitorLoop(bool immediate, CancellationToken token);
    QCoro::Task<void> tick(CancellationToken token);
    QCoro::Task<ConnectivityVerdict> stampHeartbeatAndProbe(QString phase, CancellationToken token);
    QCoro::Task<void> throughputLoop(CancellationToken token);
    void readThroughput();
    QCoro::Task<void> pathChangeDebounce(CancellationToken token);
    EngineFlags currentFlags(bool currentHealthy) const;
    void dispatch(const EngineEvent &event, std::optional<EngineFlags> flags = std::nullopt);
    void setState(EngineState state, const QString &reason, bool log);
    void refreshIsResolving();
    void openDenseWindow();
    void appendTransition(EngineState from, EngineState to, const QString &event, const QString &action);
    std::optional<QString> routeID() const;

    // Switching and re-promotion.
    void perform(EngineAction action);
    void checkLandedOnPreferred();
    QCoro::Task<bool> applyCandidate(Connection candidate, bool penalizeCurrent, std::optional<bool> closeMode,
                                     CancellationToken token);
    QCoro::Task<void> walkToNextCandidate(CancellationToken token);
    QCoro::Task<void> applyPreferredConnection(CancellationToken token);
    void failSwitch();
    bool isRepromoteDue() const;
    void startRepromotion();
    QCoro::Task<void> repromoteTrial(CancellationToken token);
    void keepRepromotion(const Connection &preferred);
    QCoro::Task<void> revertRepromotion(Connection preferred, CancellationToken token);
    // A re-promotion whose move is not seen in the selection by the trial's deadline is
    // given up: the preferred route cools down and the ordinary ticks resume.
    void abandonRepromotion(const Connection &preferred);
    void clearRepromotion();
    void rearm(bool clearCooldowns, const QString &reason);
    void armReconnectWatchdog();
    QCoro::Task<void> reconnectWatchdog(CancellationToken token);
    void showNotice(Notice notice);
    QCoro::Task<void> clearNoticeLater(CancellationToken token);
    void setAutoManaged(bool value);
    std::optional<Connection> preferred() const;
    // Whether the selection points at `route`: the store composes it as the route in
    // use, or holds its exit region with an entry it serves, as a move to it writes them
    // (an automatic move keeps the "auto" entry for a direct Hysteria2/AmneziaWG route,
    // which the store still composes as the route "auto").
    bool isSelected(const Connection &route) const;
    std::optional<Connection> connectionBeingLeft() const;

    // Tasks: starting one cancels the previous one of its kind. A body starts on the
    // clock's next turn (never inside the call that asked for it), and never when
    // cancelled before that.
    void startTask(TaskSlot &slot, TaskBody body);
    static void cancelTask(TaskSlot &slot);
    static QCoro::Task<void> runGuarded(QPointer<KovraConnectivityController> self, QCoro::Task<void> task);
    // Holds the clock for as long as the sleep runs.
    static QCoro::Task<void> sleepOn(std::shared_ptr<Clock> clock, std::chrono::milliseconds interval,
                                     CancellationToken token);

    void setSnapshot(std::optional<ReachabilitySnapshot> snapshot);
    void setNotice(std::optional<Notice> notice);

    // Published.
    ConnectivityVerdict m_verdict = ConnectivityVerdict::idle;
    std::optional<ReachabilitySnapshot> m_snapshot;
    std::optional<Notice> m_notice;
    bool m_isResolving = false;

    // Collaborators.
    std::shared_ptr<EngineConnections> m_connections;
    QPointer<TunnelController> m_tunnel;
    std::shared_ptr<AppReachabilityProbing> m_probe;
    std::shared_ptr<ThroughputSampling> m_throughput;
    AppGroupStore m_appGroup;
    std::shared_ptr<NetworkPathMonitoring> m_pathMonitor;
    std::shared_ptr<PathHop> m_pathHop;
    Options m_options;
    std::function<void(const EngineEvent &)> m_engineEventObserver;
    Logger m_log{QStringLiteral("Connectivity")};

    // Engine state.
    EngineState m_state = EngineState::idle;
    CooldownMap m_cooldown;
    ThrottleTracker m_throttleTracker;
    bool m_isThrottled = false;
    bool m_sawHealthyThroughput = false;
    bool m_lastReachable = false;
    qint64 m_degradedStreak = 0;
    std::optional<QDateTime> m_denseUntil;
    std::optional<QDateTime> m_lastRepromoteAt;
    bool m_repromoteInProgress = false;
    std::optional<Connection> m_repromoteFrom;
    std::optional<QDateTime> m_repromoteDeadline;
    qint64 m_preferredOnlineStreak = 0;
    std::optional<QDateTime> m_lastFedSampleAt;
    std::optional<ThroughputSample> m_lastThroughputSample;
    bool m_lastThroughputWasFresh = false;
    ReliabilityTelemetryBuffer m_telemetry;
    bool m_autoManaged = false;
    bool m_expectingReconnect = false;

    TaskSlot m_reconnectWatchdog;
    TaskSlot m_monitorTask;
    TaskSlot m_throughputTask;
    TaskSlot m_switchTask;
    TaskSlot m_noticeTask;
    TaskSlot m_pathChangeTask;
};

} // namespace kovra
