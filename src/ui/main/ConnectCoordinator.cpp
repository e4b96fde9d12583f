#include "ui/main/ConnectCoordinator.h"

#include "account/AuthState.h"
#include "account/SubscriptionStore.h"
#include "connectivity/ConnectivityEngine.h"
#include "platform/Error.h"
#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/Property.h"
#include "tunnel/TunnelController.h"

#include <algorithm>

namespace kovra {
namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("MacConnect"));
    return logger;
}

// The longest single wait for a subscription's expiry; a later expiry is waited for in
// steps (timers take no delays beyond about 24 days).
constexpr qint64 kExpiryStepSeconds = 24 * 3600;

} // namespace

struct ConnectCoordinator::Presentation {
    const char *key;
    const char16_t *russian;
    ui::ConnectButtonVisual::Value visual;
    ui::StatusDotState::Value dot;
};

ConnectCoordinator::ConnectCoordinator(TunnelController *tunnel, ConnectivityEngine *connectivity,
                                             SubscriptionStore *subscriptions, AuthState *authState, Options options,
                                             QObject *parent)
    : QObject(parent),
      m_tunnel(tunnel),
      m_connectivity(connectivity),
      m_subscriptions(subscriptions),
      m_authState(authState),
      m_clock(options.hero.clock ? options.hero.clock : Clock::system())
{
    options.hero.clock = m_clock;
    m_hero = new ConnectionHeroState([tunnel = m_tunnel] { return tunnel ? tunnel->status() : VPNStatus::Invalid; },
                                     options.hero, this);
    connect(m_hero, &ConnectionHeroState::optimisticStatusChanged, this, &ConnectCoordinator::recompute);

    if (m_tunnel) {
        m_tunnel->setOnStatusChange([self = QPointer<ConnectCoordinator>(this)](VPNStatus from, VPNStatus to) {
            if (self)
                self->routeStatus(from, to);
        });
        connect(m_tunnel, &TunnelController::statusChanged, this, &ConnectCoordinator::recompute);
    }
    if (m_connectivity) {
        connect(m_connectivity, &ConnectivityEngine::verdictChanged, this, &ConnectCoordinator::recompute);
        connect(m_connectivity, &ConnectivityEngine::isResolvingChanged, this, &ConnectCoordinator::recompute);
    }
    if (m_subscriptions) {
        connect(m_subscriptions, &SubscriptionStore::latestChanged, this, [this] {
            watchSubscriptionExpiry();
            recompute();
        });
    }
    // A sign-in or sign-out ends whatever the controls were showing for the old session.
    if (m_authState)
        connect(m_authState, &AuthState::statusChanged, m_hero, &ConnectionHeroState::reset, Qt::QueuedConnection);

    watchSubscriptionExpiry();
    recompute();
}

ConnectCoordinator::~ConnectCoordinator() = default;

VPNStatus ConnectCoordinator::realStatus() const
{
    return m_tunnel ? m_tunnel->status() : VPNStatus::Invalid;
}

VPNStatus ConnectCoordinator::effectiveStatus() const
{
    return m_hero->optimisticStatus().value_or(realStatus());
}

bool ConnectCoordinator::isToggleEnabled() const
{
    switch (effectiveStatus()) {
    case VPNStatus::Connecting:
    case VPNStatus::Connected:
    case VPNStatus::Reasserting:
        return true;
    case VPNStatus::Disconnecting:
        return false;
    default:
        break;
    }
    const std::optional<SubscriptionOut> *latest = m_subscriptions ? &m_subscriptions->latest() : nullptr;
    return latest && *latest && (*latest)->isActive(*m_clock);
}

bool ConnectCoordinator::canChangeConnection() const
{
    if (m_hero->hasOptimisticStatus())
        return false;
    const VPNStatus status = realStatus();
    return status == VPNStatus::Invalid || status == VPNStatus::Disconnected || status == VPNStatus::Connected;
}

ConnectCoordinator::Presentation ConnectCoordinator::presentation() const
{
    using Visual = ui::ConnectButtonVisual::Value;
    using Dot = ui::StatusDotState::Value;
    static constexpr Presentation checking{"home.status.checking", u"Проверяем соединение…", Visual::ConnectedChecking,
                                           Dot::Connected};
    switch (effectiveStatus()) {
    case VPNStatus::Invalid:
    case VPNStatus::Disconnected:
        return {"home.status.ready", u"Выключено", Visual::Idle, Dot::Inactive};
    case VPNStatus::Connecting:
    case VPNStatus::Reasserting:
        return {"home.status.connecting", u"Подключаемся…", Visual::Progress, Dot::Transition};
    case VPNStatus::Disconnecting:
        return {"home.status.disconnecting", u"Отключаемся…", Visual::Progress, Dot::Transition};
    case VPNStatus::Connected: {
        if (m_connectivity && m_connectivity->isResolving())
            return checking;
        switch (m_connectivity ? m_connectivity->verdict() : ConnectivityVerdict::idle) {
        case ConnectivityVerdict::online:
            return {"home.status.connected", u"Защищено", Visual::Verified, Dot::Connected};
        case ConnectivityVerdict::degraded:
            return {"home.status.degraded", u"Сервисы не открываются", Visual::Failed, Dot::Danger};
        case ConnectivityVerdict::idle:
        case ConnectivityVerdict::checking:
            break;
        }
        return checking;
    }
    }
    return {"home.status.error", u"Ошибка", Visual::Idle, Dot::Inactive};
}

ui::StatusDotState::Value ConnectCoordinator::statusDotState() const
{
    return presentation().dot;
}

QString ConnectCoordinator::statusText() const
{
    const Presentation p = presentation();
    return L10n::text(p.key, p.russian);
}

ui::ConnectButtonVisual::Value ConnectCoordinator::buttonVisual() const
{
    return presentation().visual;
}

void ConnectCoordinator::toggle()
{
    switch (effectiveStatus()) {
    case VPNStatus::Invalid:
    case VPNStatus::Disconnected: {
        if (!m_subscriptions)
            return;
        // Without an active subscription a press does nothing; the control shows that
        // in advance through isToggleEnabled.
        const std::optional<SubscriptionOut> &latest = m_subscriptions->latest();
        if (latest && latest->isActive(*m_clock))
            m_hero->runStart(m_tunnel, latest->subscriptionUrl);
        return;
    }
    case VPNStatus::Connecting:
    case VPNStatus::Connected:
    case VPNStatus::Reasserting:
        m_hero->setOptimistic(VPNStatus::Disconnecting);
        stopTunnel(m_tunnel);
        return;
    default:
        return;
    }
}

QCoro::Task<void> ConnectCoordinator::stopTunnel(QPointer<TunnelController> tunnel)
{
    // Nobody awaits this task: a failure only reaches the log, and the optimistic
    // state is left to its own rules.
    try {
        if (tunnel)
            co_await tunnel->stop(true);
    } catch (...) {
        log().error(QStringLiteral("stop tunnel failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

void ConnectCoordinator::seedConnectivityIfNeeded()
{
    if (m_didSeedConnectivity)
        return;
    m_didSeedConnectivity = true;
    if (m_connectivity)
        m_connectivity->handleTunnelStatus(realStatus());
}

void ConnectCoordinator::routeStatus(VPNStatus oldStatus, VPNStatus newStatus)
{
    m_didSeedConnectivity = true;
    if (m_connectivity)
        m_connectivity->handleTunnelStatus(newStatus);
    m_hero->statusChanged(oldStatus, newStatus);
}

void ConnectCoordinator::watchSubscriptionExpiry()
{
    m_expiryTimer.reset();
    const std::optional<SubscriptionOut> *latest = m_subscriptions ? &m_subscriptions->latest() : nullptr;
    if (!latest || !*latest || !(*latest)->expireUnix)
        return;
    const qint64 expiry = *(*latest)->expireUnix;
    const qint64 now = m_clock->nowSeconds();
    if (expiry <= now)
        return;
    const qint64 wait = std::min(expiry - now, kExpiryStepSeconds);
    m_expiryTimer = m_clock->startTimer(std::chrono::seconds(wait), [this] {
        watchSubscriptionExpiry();
        recompute();
    });
}

void ConnectCoordinator::recompute()
{
    const Presentation p = presentation();
    updateProperty(m_effectiveStatus, effectiveStatus(), this, &ConnectCoordinator::effectiveStatusChanged);
    updateProperty(m_isToggleEnabled, isToggleEnabled(), this, &ConnectCoordinator::isToggleEnabledChanged);
    updateProperty(m_canChangeConnection, canChangeConnection(), this,
                   &ConnectCoordinator::canChangeConnectionChanged);
    updateProperty(m_statusDotState, p.dot, this, &ConnectCoordinator::statusDotStateChanged);
    updateProperty(m_statusText, L10n::text(p.key, p.russian), this, &ConnectCoordinator::statusTextChanged);
    updateProperty(m_buttonVisual, p.visual, this, &ConnectCoordinator::buttonVisualChanged);
}

} // namespace kovra
