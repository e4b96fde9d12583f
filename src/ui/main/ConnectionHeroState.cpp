#include "ui/main/ConnectionHeroState.h"

#include "platform/Error.h"
#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/Property.h"
#include "platform/VPNError.h"
#include "tunnel/TunnelController.h"

namespace kovra {
namespace {

QString startFailedText()
{
    return L10n::text("home.error.start_failed", u"Не удалось подключиться. Попробуйте ещё раз.");
}

bool isStarting(VPNStatus status)
{
    return status == VPNStatus::Connecting || status == VPNStatus::Reasserting;
}

bool isDown(VPNStatus status)
{
    return status == VPNStatus::Invalid || status == VPNStatus::Disconnected;
}

} // namespace

ConnectionHeroState::ConnectionHeroState(StatusReader currentStatus, Options options, QObject *parent)
    : QObject(parent), m_currentStatus(std::move(currentStatus)), m_options(std::move(options))
{
    if (!m_options.clock)
        m_options.clock = Clock::system();
}

ConnectionHeroState::~ConnectionHeroState() = default;

QVariant ConnectionHeroState::optimisticStatusValue() const
{
    return m_optimisticStatus ? QVariant::fromValue(*m_optimisticStatus) : QVariant();
}

void ConnectionHeroState::setOptimistic(VPNStatus status)
{
    clearStartError();
    if (status == VPNStatus::Connecting)
        armWatchdog();
    else
        m_startWatchdog.reset();
    setOptimisticStatus(status);
    m_optimisticTimeout.reset();
    m_optimisticTimeout = m_options.clock->startTimer(m_options.optimisticInterval, [this] { clearOptimistic(); });
}

void ConnectionHeroState::clearOptimistic()
{
    setOptimisticStatus(std::nullopt);
    m_optimisticTimeout.reset();
}

void ConnectionHeroState::armWatchdog()
{
    m_startWatchdog.reset();
    m_startWatchdog = m_options.clock->startTimer(m_options.watchdogInterval, [this] {
        m_startWatchdog.reset();
        // The optimistic status is left to its own time-out.
        if (m_currentStatus() != VPNStatus::Connected)
            showStartError(L10n::text("home.error.start_timeout", u"Подключение зависло. Попробуйте ещё раз."));
    });
}

void ConnectionHeroState::showStartError(const QString &text)
{
    setStartError(text);
    m_startErrorDismiss.reset();
    m_startErrorDismiss = m_options.clock->startTimer(m_options.errorDismissInterval, [this] {
        m_startErrorDismiss.reset();
        setStartError(std::nullopt);
    });
}

void ConnectionHeroState::runStart(TunnelController *tunnel, const QString &subscriptionURL, ErrorCallback onError)
{
    setOptimistic(VPNStatus::Connecting);
    startTunnel(QPointer<ConnectionHeroState>(this), QPointer<TunnelController>(tunnel), subscriptionURL,
                std::move(onError));
}

QCoro::Task<void> ConnectionHeroState::startTunnel(QPointer<ConnectionHeroState> self, QPointer<TunnelController> tunnel,
                                                   QString subscriptionURL, ErrorCallback onError)
{
    std::exception_ptr failure;
    try {
        if (!tunnel)
            throw TunnelError(TunnelError::Kind::managerUnavailable);
        co_await tunnel->connect(subscriptionURL);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure)
        co_return;
    if (self)
        self->startFailed(failure);
    if (!onError)
        co_return;
    try {
        onError(failure);
    } catch (...) {
        // Nobody awaits this task: a throwing callback only reaches the log.
        static const Logger log(QStringLiteral("ConnectionHero"));
        log.fault(QStringLiteral("start error callback threw: %1").arg(descriptionOf(std::current_exception())));
    }
}

void ConnectionHeroState::startFailed(const std::exception_ptr &error)
{
    clearOptimistic();
    m_startWatchdog.reset();
    // A start that was stopped or superseded did not fail: the user (or a newer start)
    // ended it, so no error is shown for it.
    if (!isCancellation(error))
        showStartError(startErrorMessage(error));
}

void ConnectionHeroState::statusChanged(VPNStatus oldStatus, VPNStatus newStatus)
{
    if (newStatus == VPNStatus::Connected) {
        m_startWatchdog.reset();
        clearStartError();
    } else if (m_startWatchdog && isStarting(oldStatus) && isDown(newStatus)) {
        m_startWatchdog.reset();
        showStartError(startFailedText());
    }

    if (!m_optimisticStatus)
        return;
    bool stands = true;
    if (*m_optimisticStatus == VPNStatus::Disconnecting)
        stands = isStarting(newStatus) || newStatus == VPNStatus::Connected;
    else if (*m_optimisticStatus == VPNStatus::Connecting)
        stands = newStatus == VPNStatus::Disconnected;
    if (!stands)
        clearOptimistic();
}

void ConnectionHeroState::reset()
{
    clearOptimistic();
    m_startWatchdog.reset();
    clearStartError();
}

QString ConnectionHeroState::startErrorMessage(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const VPNError &e) {
        if (e.domain() == QLatin1String(VPNError::kDomain)) {
            if (e.code() == VPNError::ConfigurationDisabled)
                return L10n::text("home.error.vpn_config_disabled",
                                  u"VPN-конфигурация Kovra выключена. Подключитесь снова — приложение включит её.");
            if (e.code() == VPNError::ConfigurationReadWriteFailed)
                return L10n::text("home.error.vpn_permission", u"Не удалось сохранить VPN-конфигурацию. Проверьте доступ к папке настроек Kovra S");
        }
    } catch (...) {
    }
    return startFailedText();
}

void ConnectionHeroState::setOptimisticStatus(std::optional<VPNStatus> status)
{
    updateProperty(m_optimisticStatus, status, this, &ConnectionHeroState::optimisticStatusChanged);
}

void ConnectionHeroState::setStartError(std::optional<QString> text)
{
    updateProperty(m_startError, std::move(text), this, &ConnectionHeroState::startErrorChanged);
}

void ConnectionHeroState::clearStartError()
{
    m_startErrorDismiss.reset();
    setStartError(std::nullopt);
}

} // namespace kovra
