#include "tunnel/TunnelController.h"

#include "core/AppGroupStore.h"
#include "platform/L10n.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"

#include <stdexcept>

namespace kovra {

// --- TunnelError --------------------------------------------------------------

QString TunnelError::description() const
{
    switch (m_kind) {
    case Kind::systemExtensionNotReady:
        return m_message ? QStringLiteral("systemExtensionNotReady: %1").arg(*m_message)
                         : QStringLiteral("systemExtensionNotReady");
    case Kind::managerUnavailable:
        return QStringLiteral("managerUnavailable");
    case Kind::reloadTimeout:
        return QStringLiteral("reloadTimeout");
    case Kind::statusUnavailable:
        return QStringLiteral("statusUnavailable");
    case Kind::reloadNotRunning:
        return QStringLiteral("reloadNotRunning");
    case Kind::subscriptionURLUnavailable:
        return QStringLiteral("subscriptionURLUnavailable");
    }
    return {};
}

QString TunnelError::localizedDescription() const
{
    if (m_kind == Kind::systemExtensionNotReady)
        return m_message.value_or(L10n::text("tunnel.sysext.notReady", u"Служба туннеля не отвечает."));
    return L10n::format(L10n::text("tunnel.error.generic", u"Не удалось завершить операцию. (Ошибка туннеля %d.)"),
                        {int(m_kind)});
}

// --- TunnelController ---------------------------------------------------------

TunnelController::TunnelController(Options options, std::optional<ReloadOperations> reloadOperations, QObject *parent)
    : QObject(parent),
      m_steps(reloadOperations ? std::move(*reloadOperations) : ownSteps()),
      m_replacedSteps(reloadOperations.has_value()),
      m_activator(options.activator),
      m_preferences(options.preferences),
      m_appGroupFactory(std::move(options.appGroupFactory)),
      m_reloadDisconnectTimeout(options.reloadDisconnectTimeout),
      m_statusPollInterval(options.statusPollInterval),
      m_selectRegionTimeout(options.selectRegionTimeout),
      m_clock(options.clock ? std::move(options.clock) : Clock::system())
{
    if (!m_activator || !m_preferences || !m_appGroupFactory)
        throw std::invalid_argument("TunnelController needs preferences, an activator and an app-group factory");
}

TunnelController::ReloadOperations TunnelController::ownSteps()
{
    // Each step runs only while the controller lives (operations end before it does).
    return {
        [this] { return m_manager ? m_manager->connection()->status() : VPNStatus::Invalid; },
        [this] {
            if (m_manager)
                m_manager->connection()->stopVPNTunnel();
        },
        [this](CancellationToken token) {
            return waitForStatus(VPNStatus::Disconnected, m_reloadDisconnectTimeout, std::move(token));
        },
        [this](QString subscriptionURL, CancellationToken) { return install(std::move(subscriptionURL)); },
        [this](QString subscriptionURL, AppGroupStore &appGroup, CancellationToken token) {
            return startWithManager(subscriptionURL, appGroup, std::move(token));
        },
    };
}

TunnelController::~TunnelController()
{
    // A running operation stops at its next cancellation point instead of acting for a
    // controller that is gone.
    m_activeStartTask.cancel();
}

QString TunnelController::lastErrorText() const
{
    return localizedDescriptionOf(m_lastError);
}

void TunnelController::setWantsConnected(bool value)
{
    if (std::exchange(m_wantsConnected, value) != value)
        Q_EMIT wantsConnectedChanged();
}

void TunnelController::setRecoveryAttemptInProgress(bool value)
{
    if (std::exchange(m_recoveryAttemptInProgress, value) != value)
        Q_EMIT isRecoveryAttemptInProgressChanged();
}

void TunnelController::setConnectionPickerPresented(bool value)
{
    if (std::exchange(m_connectionPickerPresented, value) != value)
        Q_EMIT connectionPickerPresentedChanged();
}

void TunnelController::setRecoveryWatchdog(Operation<void> watchdog)
{
    if (m_recoveryWatchdog == watchdog)
        return;
    m_recoveryWatchdog = std::move(watchdog);
    Q_EMIT recoveryWatchdogChanged();
}

void TunnelController::setStartInFlight(bool value)
{
    if (std::exchange(m_startInFlight, value) != value)
        Q_EMIT startInFlightChanged();
}

void TunnelController::setLastError(std::exception_ptr error)
{
    // Every failure is announced, also one equal to the last.
    m_lastError = std::move(error);
    Q_EMIT lastErrorChanged();
}

void TunnelController::setManager(TunnelProviderManager *manager)
{
    if (m_manager == manager)
        return;
    m_manager = manager;
    Q_EMIT managerChanged();
}

void TunnelController::setStatusObserver(QMetaObject::Connection observer)
{
    m_statusObserver = std::move(observer);
    Q_EMIT statusObserverChanged();
}

// --- Status observation ---------------------------------------------------------

void TunnelController::applyStatus(VPNStatus status)
{
    const VPNStatus old = m_status;
    if (old == status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
    // A copy: the handler may replace itself while it runs.
    if (const StatusChangeHandler handler = m_onStatusChange)
        handler(old, status);
}

void TunnelController::observeStatus(TunnelProviderManager *manager)
{
    if (m_statusObserver) {
        QObject::disconnect(m_statusObserver);
        setStatusObserver({});
    }
    setManager(manager);
    TunnelProviderSession *session = manager->connection();
    applyStatus(session->status());
    // Delivered on the GUI thread and applied at once; the connection ends with either side.
    setStatusObserver(QObject::connect(session, &TunnelProviderSession::statusChanged, this,
                                       [this, session] { applyStatus(session->status()); }));
}

QCoro::Task<TunnelProviderManager *> TunnelController::loadManager()
{
    const QList<TunnelProviderManager *> managers = co_await m_preferences->loadAllFromPreferences();
    for (TunnelProviderManager *manager : managers) {
        const auto protocol = manager->protocolConfiguration();
        if (protocol && protocol->providerBundleIdentifier == kPacketTunnelBundleID)
            co_return manager;
    }
    co_return nullptr;
}

QCoro::Task<void> TunnelController::attach()
{
    QPointer<TunnelController> self(this);
    TunnelProviderManager *found = nullptr;
    std::exception_ptr failure;
    try {
        found = co_await loadManager();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        setLastError(failure);
        m_log.error(QStringLiteral("attach failed: %1").arg(descriptionOf(failure)));
        co_return;
    }
    if (found)
        observeStatus(found);
}

// --- Install --------------------------------------------------------------------

void TunnelController::failInstall(std::exception_ptr error)
{
    setLastError(error);
    m_log.error(QStringLiteral("install failed: %1").arg(descriptionOf(error)));
}

QCoro::Task<void> TunnelController::install(QString subscriptionURL)
{
    QPointer<TunnelController> self(this);
    const SystemExtensionState state = co_await m_activator->activate();
    if (!self)
        throw CancellationError();
    if (state.kind() != SystemExtensionState::Activated) {
        m_log.error(QStringLiteral("sysext не готов: %1").arg(state.description()));
        const auto error = TunnelError::systemExtensionNotReady(state.userMessage());
        failInstall(std::make_exception_ptr(error));
        throw error;
    }

    // Loading, saving and reloading the configuration: every failure is recorded alike.
    std::exception_ptr failure;
    try {
        TunnelProviderManager *saved = co_await loadManager();
        if (!self)
            throw CancellationError();
        co_await installConfiguration(std::move(subscriptionURL), saved);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        throw CancellationError();
    if (failure) {
        failInstall(failure);
        std::rethrow_exception(failure);
    }
}

QCoro::Task<void> TunnelController::installConfiguration(QString subscriptionURL, TunnelProviderManager *saved)
{
    // Settings are compared and written only together with a URL.
    std::optional<ProviderSettings> wanted;
    if (!subscriptionURL.isEmpty())
        wanted = ProviderSettings(*m_appGroupFactory());
    if (isConfigurationCurrent(saved, subscriptionURL, wanted)) {
        observeStatus(saved);
        co_return;
    }

    TunnelProviderManager *manager = saved ? saved : m_preferences->createManager();
    writeConfiguration(*manager, subscriptionURL, wanted);
    QPointer<TunnelController> self(this);
    co_await manager->saveToPreferences();
    co_await manager->loadFromPreferences();
    if (!self)
        throw CancellationError();
    observeStatus(manager);
}

// --- Start operations -----------------------------------------------------------

QCoro::Task<void> TunnelController::startOperation(StartOperationKind kind, QString subscriptionURL,
                                                   std::shared_ptr<AppGroupStore> appGroup, CancellationToken cancel)
{
    QPointer<TunnelController> self(this);
    const QUuid id = QUuid::createUuid();
    const Operation<void> previous = m_activeStartTask;
    setStartInFlight(true);
    const auto operation = Operation<void>::run([self, previous, kind, subscriptionURL, appGroup](CancellationToken token) {
        return runOperation(self, previous, kind, subscriptionURL, appGroup, token);
    });
    // From here on this operation is the current one.
    m_activeStartID = id;
    m_activeStartTask = operation;
    const QMetaObject::Connection link = cancel.onCancel(this, [operation] { operation.cancel(); });

    std::exception_ptr failure;
    try {
        co_await operation.value();
    } catch (...) {
        failure = std::current_exception();
    }
    QObject::disconnect(link);
    if (self)
        self->finishStart(id);
    if (failure)
        std::rethrow_exception(failure);
}

QCoro::Task<void> TunnelController::runOperation(QPointer<TunnelController> self, Operation<void> previous,
                                                 StartOperationKind kind, QString subscriptionURL,
                                                 std::shared_ptr<AppGroupStore> appGroup, CancellationToken token)
{
    if (!self)
        throw CancellationError();
    // Only one operation's steps run at a time: the older one ends before ours begin.
    if (previous.isValid()) {
        previous.cancel();
        co_await previous.waitForEnd();
    }
    if (!self)
        throw CancellationError();
    token.throwIfCancelled();
    self->m_runningKind = kind;
    if (kind == StartOperationKind::coldStart)
        co_await self->connectSteps(std::move(subscriptionURL), std::move(appGroup), std::move(token));
    else
        co_await self->performReload(std::move(subscriptionURL), std::move(token));
}

void TunnelController::finishStart(const QUuid &id)
{
    // A newer operation owns the fields once it has replaced this one.
    if (m_activeStartID != id)
        return;
    m_activeStartTask = {};
    m_activeStartID.reset();
    setStartInFlight(false);
}

QCoro::Task<void> TunnelController::connect(QString subscriptionURL, CancellationToken cancel)
{
    std::shared_ptr<AppGroupStore> appGroup = m_appGroupFactory();
    co_await startOperation(StartOperationKind::coldStart, std::move(subscriptionURL), std::move(appGroup),
                            std::move(cancel));
}

QCoro::Task<void> TunnelController::connectSteps(QString subscriptionURL, std::shared_ptr<AppGroupStore> appGroup,
                                                 CancellationToken token)
{
    QPointer<TunnelController> self(this);
    co_await m_steps.install(subscriptionURL, token);
    if (!self)
        throw CancellationError();
    token.throwIfCancelled();
    co_await m_steps.start(subscriptionURL, *appGroup, std::move(token));
}

QCoro::Task<void> TunnelController::stop(bool)
{
    m_activeStartTask.cancel();
    if (!m_manager)
        co_return;
    const OneShot<> written = m_manager->connection()->stopVPNTunnel();
    try {
        co_await written.wait();
    } catch (const CancellationError &) {
        // A newer start replaced the stop before it reached the provider.
    }
}

QCoro::Task<void> TunnelController::reload(QString subscriptionURL, CancellationToken cancel)
{
    // Without a saved configuration the live status reads invalid: nothing to reload.
    if (!vpn::isUp(m_steps.status()))
        co_return;
    co_await startOperation(StartOperationKind::reload, std::move(subscriptionURL), nullptr, std::move(cancel));
}

QCoro::Task<void> TunnelController::performReload(QString subscriptionURL, CancellationToken token)
{
    QPointer<TunnelController> self(this);
    m_steps.stop();

    std::exception_ptr waitFailure;
    try {
        co_await m_steps.waitForDisconnected(token);
    } catch (...) {
        waitFailure = std::current_exception();
    }
    // A tunnel that is slow to go down (or no configuration) does not stop the reload.
    if (isCancellation(waitFailure))
        std::rethrow_exception(waitFailure);
    if (!self)
        throw CancellationError();

    std::exception_ptr failure;
    try {
        co_await m_steps.install(subscriptionURL, token);
        if (!self)
            throw CancellationError();
        token.throwIfCancelled();
        co_await startTunnel(subscriptionURL, token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure)
        co_return;
    if (!self)
        std::rethrow_exception(failure);

    // One more try with the URL the app last stored; the reload still reports its own failure.
    const Logger log = m_log;
    std::exception_ptr fallbackFailure;
    if (token.isCancelled()) {
        fallbackFailure = std::make_exception_ptr(CancellationError());
    } else {
        try {
            co_await startTunnelWithStoredURL(token);
        } catch (...) {
            fallbackFailure = std::current_exception();
        }
    }
    if (fallbackFailure)
        log.error(QStringLiteral("reload fallback start failed: %1").arg(descriptionOf(fallbackFailure)));
    std::rethrow_exception(failure);
}

QCoro::Task<void> TunnelController::waitForStatus(VPNStatus wanted, std::chrono::milliseconds timeout,
                                                  CancellationToken token)
{
    const QPointer<TunnelProviderManager> manager = m_manager;
    if (!manager)
        throw TunnelError(TunnelError::Kind::managerUnavailable);
    const auto interval = m_statusPollInterval;
    const std::shared_ptr<Clock> clock = m_clock;
    const MonotonicInstant deadline = clock->monotonicNow() + timeout;
    // Only the wanted status ends the wait; nothing else touches the controller from here.
    for (;;) {
        if (!manager)
            throw TunnelError(TunnelError::Kind::managerUnavailable);
        if (manager->connection()->status() == wanted)
            co_return;
        token.throwIfCancelled();
        if (clock->monotonicNow() >= deadline)
            throw TunnelError(TunnelError::Kind::reloadTimeout);
        co_await clock->sleep(interval, token);
    }
}

QCoro::Task<void> TunnelController::routingReconnect()
{
    const QString subscriptionURL =
        m_appGroupFactory()->defaults()->string(AppGroupKey::subscriptionURL).value_or(QString());
    if (subscriptionURL.isEmpty() || !vpn::isUp(m_status))
        co_return;
    const Logger log = m_log;
    std::exception_ptr failure;
    try {
        co_await reload(subscriptionURL);
    } catch (...) {
        failure = std::current_exception();
    }
    if (isCancellation(failure))
        log.info(QStringLiteral("routing reconnect superseded"));
    else if (failure)
        log.error(QStringLiteral("routing reconnect failed: %1").arg(descriptionOf(failure)));
}

// --- Start steps ----------------------------------------------------------------

// Not coroutines: each reads the app group before it returns the start's task.

QCoro::Task<void> TunnelController::startTunnel(const QString &subscriptionURL, CancellationToken token)
{
    return m_steps.start(subscriptionURL, *m_appGroupFactory(), std::move(token));
}

QCoro::Task<void> TunnelController::startTunnelWithStoredURL(CancellationToken token)
{
    const auto appGroup = m_appGroupFactory();
    const QString stored = appGroup->defaults()->string(AppGroupKey::subscriptionURL).value_or(QString());
    if (stored.isEmpty())
        throw TunnelError(TunnelError::Kind::subscriptionURLUnavailable);
    return m_steps.start(stored, *appGroup, std::move(token));
}

QCoro::Task<void> TunnelController::startWithManager(const QString &subscriptionURL, AppGroupStore &appGroup,
                                                     CancellationToken token)
{
    if (!m_manager)
        throw TunnelError(TunnelError::Kind::managerUnavailable);
    // Only connect's start step announces itself; a reload's starts are quiet.
    if (m_runningKind == StartOperationKind::coldStart)
        m_log.info(QStringLiteral("startVPNTunnel: %1").arg(kPacketTunnelBundleID));
    return m_manager->connection()->startVPNTunnel(startOptions(subscriptionURL, appGroup), std::move(token));
}

} // namespace kovra
