#pragma once

#include "platform/Async.h"
#include "platform/Clock.h"
#include "platform/Error.h"
#include "platform/Log.h"
#include "platform/TunnelManager.h"
#include "tunnel/TunnelReplies.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace kovra {

class AppGroupStore;
class SystemExtensionActivator;

// A failure of the tunnel controller's own steps. Only systemExtensionNotReady has a
// text of its own for the user; the others show a generic one.
class TunnelError : public Error {
public:
    enum class Kind {
        systemExtensionNotReady,
        managerUnavailable,
        reloadTimeout,
        statusUnavailable,
        reloadNotRunning,
        subscriptionURLUnavailable,
    };

    explicit TunnelError(Kind kind, std::optional<QString> message = std::nullopt)
        : m_kind(kind), m_message(std::move(message)) {}
    static TunnelError systemExtensionNotReady(std::optional<QString> message)
    {
        return TunnelError(Kind::systemExtensionNotReady, std::move(message));
    }

    Kind kind() const { return m_kind; }
    // The user message carried by systemExtensionNotReady (none for the other kinds).
    const std::optional<QString> &message() const { return m_message; }

    // "managerUnavailable", "systemExtensionNotReady: <message>", ...
    QString description() const override;
    QString localizedDescription() const override;

private:
    Kind m_kind;
    std::optional<QString> m_message;
};

// What the controller is built on. The first three are required (TunnelEnvironment.h
// makes them at start-up); every interval defaults to the product value.
struct TunnelControllerOptions {
    // The saved VPN configurations. Must outlive the controller.
    TunnelPreferences *preferences = nullptr;
    // Activation of the tunnel provider. Must outlive the controller.
    SystemExtensionActivator *activator = nullptr;
    // Makes a fresh handle on the app group.
    std::function<std::unique_ptr<AppGroupStore>()> appGroupFactory;
    // How long a reload waits for the tunnel to report disconnected, and how often it looks.
    std::chrono::milliseconds reloadDisconnectTimeout{15000};
    std::chrono::milliseconds statusPollInterval{200};
    // How long a region switch waits for the provider to confirm it.
    std::chrono::milliseconds selectRegionTimeout{5000};
    // Times the reload's status wait and the region switch's bound.
    std::shared_ptr<Clock> clock = Clock::system();
};

// The app's one owner of the packet-tunnel configuration and of the tunnel status.
// It activates the provider, keeps its saved configuration current, starts, stops and
// reloads the tunnel, mirrors the tunnel's status and exchanges provider messages.
//
// Connect and reload run as start operations of which only the newest counts: a new
// one cancels the older, waits for it to end, and only then takes its own steps.
// Lives on the GUI thread for the life of the app.
class TunnelController : public QObject {
    Q_OBJECT
    Q_PROPERTY(kovra::vpn::Status status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool startInFlight READ startInFlight NOTIFY startInFlightChanged)
    Q_PROPERTY(kovra::TunnelProviderManager *manager READ manager NOTIFY managerChanged)
    Q_PROPERTY(QString lastErrorText READ lastErrorText NOTIFY lastErrorChanged)
    Q_PROPERTY(bool observingStatus READ isObservingStatus NOTIFY statusObserverChanged)
    Q_PROPERTY(bool wantsConnected READ wantsConnected WRITE setWantsConnected NOTIFY wantsConnectedChanged)
    Q_PROPERTY(bool isRecoveryAttemptInProgress READ isRecoveryAttemptInProgress
                   WRITE setRecoveryAttemptInProgress NOTIFY isRecoveryAttemptInProgressChanged)
    Q_PROPERTY(bool connectionPickerPresented READ connectionPickerPresented WRITE setConnectionPickerPresented
                   NOTIFY connectionPickerPresentedChanged)
public:
    using TunnelError = kovra::TunnelError;
    using Options = TunnelControllerOptions;

    enum class StartOperationKind { coldStart, reload };

    // The steps of connect and reload: status - reload's read of the live status; stop -
    // reload's stop; waitForDisconnected - reload's wait; install - the install step of
    // connect and reload; start - the start steps of connect and reload and the
    // stored-URL fallback start, ending with the provider's answer (it reads the store
    // before it first waits). The token is the operation's cancellation. Without
    // replacement steps (tests pass them, all five set) the controller uses its own.
    struct ReloadOperations {
        std::function<VPNStatus()> status;
        std::function<void()> stop;
        std::function<QCoro::Task<void>(CancellationToken)> waitForDisconnected;
        std::function<QCoro::Task<void>(QString, CancellationToken)> install;
        std::function<QCoro::Task<void>(QString, AppGroupStore &, CancellationToken)> start;
    };

    // Called synchronously with (old, new) after each real status change.
    using StatusChangeHandler = std::function<void(VPNStatus oldStatus, VPNStatus newStatus)>;

    // Loads and observes nothing until attach() or an install. Throws
    // std::invalid_argument when a required option is missing.
    explicit TunnelController(Options options, std::optional<ReloadOperations> reloadOperations = std::nullopt,
                              QObject *parent = nullptr);
    ~TunnelController() override;

    VPNStatus status() const { return m_status; }
    // The status a selection decides by whether to reconnect: the replacement steps'
    // status when the controller was built with them, else status().
    VPNStatus liveStatus() const { return m_replacedSteps ? m_steps.status() : m_status; }
    bool startInFlight() const { return m_startInFlight; }
    TunnelProviderManager *manager() const { return m_manager; }
    // The last failure of attach or install; nothing clears it.
    std::exception_ptr lastError() const { return m_lastError; }
    QString lastErrorText() const;
    bool isObservingStatus() const { return bool(m_statusObserver); }

    // Kept for the screens that own these flags; no operation here reads or writes them.
    bool wantsConnected() const { return m_wantsConnected; }
    void setWantsConnected(bool value);
    bool isRecoveryAttemptInProgress() const { return m_recoveryAttemptInProgress; }
    void setRecoveryAttemptInProgress(bool value);
    bool connectionPickerPresented() const { return m_connectionPickerPresented; }
    void setConnectionPickerPresented(bool value);
    Operation<void> recoveryWatchdog() const { return m_recoveryWatchdog; }
    void setRecoveryWatchdog(Operation<void> watchdog);

    const StatusChangeHandler &onStatusChange() const { return m_onStatusChange; }
    void setOnStatusChange(StatusChangeHandler handler) { m_onStatusChange = std::move(handler); }

    SystemExtensionActivator *systemExtensionActivator() const { return m_activator; }

    // Loads the saved configuration of the provider and observes its status, applying
    // the provider's real status at once (loading waits for it, bounded). Never fails:
    // a load failure lands in lastError and the log.
    QCoro::Task<void> attach();
    // Installs the configuration for the URL and starts the tunnel (also when it is up
    // already); ends with the provider's answer to the start and fails with its refusal.
    // Supersedes any running connect or reload. Cancelling `cancel` cancels it.
    QCoro::Task<void> connect(QString subscriptionURL, CancellationToken cancel = {});
    // Cancels the running start operation and asks the tunnel to stop, without waiting
    // for the disconnect. While no provider is connected the stop waits for one and ends
    // once it has been sent; it fails with VPNError(ConnectionFailed) when no provider
    // came within the session's stop bound. A start that replaced it ends it quietly.
    QCoro::Task<void> stop(bool userInitiated);
    // While the tunnel is connecting, connected or reasserting: stops it, waits for the
    // disconnect, installs and starts again (falling back to the stored URL when that
    // fails). Otherwise does nothing.
    QCoro::Task<void> reload(QString subscriptionURL, CancellationToken cancel = {});
    // Reloads with the stored subscription URL after a routing setting changed. Never fails.
    QCoro::Task<void> routingReconnect();

    // Provider messages (TunnelProviderMessages.cpp).
    //
    // The provider's self-report; needs a saved configuration, not a running tunnel.
    // Throws TunnelError (managerUnavailable, statusUnavailable when no usable reply
    // came within the tunnel layer's reply bound), the layer's VPNError, or a
    // JsonDecodingError.
    QCoro::Task<TunnelStatusReport> queryStatus();
    // Switches the exit region in place; true only when the provider confirmed it
    // within the time-out. Sends nothing unless the tunnel is connected.
    QCoro::Task<bool> selectRegion(QStringList keywords, bool closeConnections);
    // Hands the provider a new auto-disconnect time without waiting for its answer.
    // Sends nothing unless the tunnel is connected (the next start carries the value).
    void setAutoDisconnect(int minutes);
    // The session of the saved configuration while its tunnel is connected, else null.
    TunnelProviderSession *connectedProviderSession() const;

Q_SIGNALS:
    void statusChanged();
    void startInFlightChanged();
    void managerChanged();
    void lastErrorChanged();
    void statusObserverChanged();
    void wantsConnectedChanged();
    void isRecoveryAttemptInProgressChanged();
    void connectionPickerPresentedChanged();
    void recoveryWatchdogChanged();

private:
    QCoro::Task<TunnelProviderManager *> loadManager();
    void observeStatus(TunnelProviderManager *manager);
    void applyStatus(VPNStatus status);
    void setManager(TunnelProviderManager *manager);
    void setStatusObserver(QMetaObject::Connection observer);
    void setStartInFlight(bool value);
    void setLastError(std::exception_ptr error);
    void failInstall(std::exception_ptr error);

    ReloadOperations ownSteps();
    QCoro::Task<void> install(QString subscriptionURL);
    QCoro::Task<void> installConfiguration(QString subscriptionURL, TunnelProviderManager *saved);

    QCoro::Task<void> startOperation(StartOperationKind kind, QString subscriptionURL,
                                     std::shared_ptr<AppGroupStore> appGroup, CancellationToken cancel);
    static QCoro::Task<void> runOperation(QPointer<TunnelController> self, Operation<void> previous,
                                          StartOperationKind kind, QString subscriptionURL,
                                          std::shared_ptr<AppGroupStore> appGroup, CancellationToken token);
    void finishStart(const QUuid &id);
    QCoro::Task<void> connectSteps(QString subscriptionURL, std::shared_ptr<AppGroupStore> appGroup,
                                   CancellationToken token);
    QCoro::Task<void> performReload(QString subscriptionURL, CancellationToken token);
    QCoro::Task<void> waitForStatus(VPNStatus wanted, std::chrono::milliseconds timeout, CancellationToken token);

    // Start steps: a reload's, and the reload's fallback with the URL stored in the app
    // group; the controller's own start (connect's start logs it). Each fails at once on
    // what it checks itself, else ends with the provider's answer.
    QCoro::Task<void> startTunnel(const QString &subscriptionURL, CancellationToken token);
    QCoro::Task<void> startTunnelWithStoredURL(CancellationToken token);
    QCoro::Task<void> startWithManager(const QString &subscriptionURL, AppGroupStore &appGroup,
                                       CancellationToken token);

    VPNStatus m_status = VPNStatus::Invalid;
    std::exception_ptr m_lastError;
    bool m_wantsConnected = false;
    bool m_recoveryAttemptInProgress = false;
    StatusChangeHandler m_onStatusChange;
    QPointer<TunnelProviderManager> m_manager;
    QMetaObject::Connection m_statusObserver;
    bool m_startInFlight = false;
    bool m_connectionPickerPresented = false;
    Operation<void> m_activeStartTask;
    std::optional<QUuid> m_activeStartID;
    ReloadOperations m_steps;
    bool m_replacedSteps;
    // The kind of the operation whose steps run (at most one runs at a time).
    StartOperationKind m_runningKind = StartOperationKind::coldStart;
    Operation<void> m_recoveryWatchdog;
    Logger m_log{QStringLiteral("Tunnel")};
    SystemExtensionActivator *m_activator = nullptr;

    TunnelPreferences *m_preferences;
    std::function<std::unique_ptr<AppGroupStore>()> m_appGroupFactory;
    std::chrono::milliseconds m_reloadDisconnectTimeout;
    std::chrono::milliseconds m_statusPollInterval;
    std::chrono::milliseconds m_selectRegionTimeout;
    std::shared_ptr<Clock> m_clock;
};

} // namespace kovra
