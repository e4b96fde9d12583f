#include "ui/main/MenuBarModel.h"

#include "account/SubscriptionStore.h"
#include "ui/main/ConnectCoordinator.h"
#include "catalog/ConnectionStore.h"
#include "connectivity/ConnectivityEngine.h"
#include "platform/L10n.h"
#include "platform/Property.h"
#include "ui/account/SubscriptionFormat.h"
#include "ui/main/StatusLook.h"

namespace kovra::ui {

MenuBarModel::MenuBarModel(ConnectCoordinator *coordinator, ConnectivityEngine *connectivity,
                                 SubscriptionStore *subscriptions, ConnectionStore *connections,
                                 std::shared_ptr<Clock> clock, QObject *parent)
    : QObject(parent),
      m_coordinator(coordinator),
      m_connectivity(connectivity),
      m_subscriptions(subscriptions),
      m_connections(connections),
      m_clock(clock ? std::move(clock) : Clock::system())
{
    if (coordinator) {
        for (auto signal : {&ConnectCoordinator::statusTextChanged, &ConnectCoordinator::statusDotStateChanged})
            connect(coordinator, signal, this, &MenuBarModel::updateHeader);
        for (auto signal :
             {&ConnectCoordinator::effectiveStatusChanged, &ConnectCoordinator::isToggleEnabledChanged})
            connect(coordinator, signal, this, &MenuBarModel::updatePrimary);
    }
    if (connectivity)
        connect(connectivity, &ConnectivityEngine::verdictChanged, this, &MenuBarModel::updateHeader);
    if (connections)
        connect(connections, &ConnectionStore::currentConnectionChanged, this, &MenuBarModel::updateLine);
    if (subscriptions)
        connect(subscriptions, &SubscriptionStore::latestChanged, this, &MenuBarModel::updateSubscription);
    updateHeader();
    updateLine();
    updatePrimary();
    updateSubscription();
}

MenuBarModel::~MenuBarModel() = default;

QString MenuBarModel::connectTitleFor(VPNStatus effectiveStatus)
{
    switch (effectiveStatus) {
    case VPNStatus::Connecting:
    case VPNStatus::Connected:
    case VPNStatus::Reasserting: return L10n::text("menubar.disconnect", u"Отключиться");
    case VPNStatus::Invalid:
    case VPNStatus::Disconnected:
    case VPNStatus::Disconnecting: break;
    }
    return L10n::text("menubar.connect", u"Подключиться");
}

QString MenuBarModel::autoLabel()
{
    return L10n::text("home.connection.auto", u"Авто");
}

QString MenuBarModel::openTitle()
{
    return L10n::text("menubar.open", u"Открыть Kovra S");
}

QString MenuBarModel::settingsTitle()
{
    return L10n::text("home.settings", u"Настройки");
}

QString MenuBarModel::quitTitle()
{
    return L10n::text("menubar.quit", u"Завершить");
}

QString MenuBarModel::subscriptionAccessibilityName() const
{
    if (!m_subscription.present)
        return {};
    return m_subscription.traffic + QStringLiteral(", ") + m_subscription.expiry;
}

void MenuBarModel::activatePrimary()
{
    // Read afresh: the published value may lag a change queued behind this press.
    if (m_coordinator && m_coordinator->isToggleEnabled())
        m_coordinator->toggle();
}

void MenuBarModel::refreshTimeTexts()
{
    updateSubscription();
}

void MenuBarModel::updateHeader()
{
    Header next;
    if (m_coordinator) {
        next.dot = m_coordinator->statusDotState();
        next.text = m_coordinator->statusText();
    }
    next.glow = m_connectivity && m_connectivity->verdict() == ConnectivityVerdict::online;
    next.colorRole = statusTextColorRole(next.dot);
    updateProperty(m_symbol, menuBarSymbol(next.dot), this, &MenuBarModel::labelSymbolChanged);
    updateProperty(m_header, std::move(next), this, &MenuBarModel::headerChanged);
}

void MenuBarModel::updateLine()
{
    Line next;
    const std::optional<Connection> current = m_connections ? m_connections->currentConnection() : std::nullopt;
    if (current) {
        next.hasConnection = true;
        next.flags = current->flags;
        next.label = current->label;
    }
    updateProperty(m_line, std::move(next), this, &MenuBarModel::connectionLineChanged);
}

void MenuBarModel::updatePrimary()
{
    const VPNStatus status = m_coordinator ? m_coordinator->effectiveStatus() : VPNStatus::Invalid;
    Primary next;
    next.title = connectTitleFor(status);
    // While the tunnel is up or coming up, the primary button stops it.
    next.tint = vpn::isUp(status) ? QStringLiteral("danger") : QStringLiteral("accent");
    next.enabled = m_coordinator && m_coordinator->isToggleEnabled();
    updateProperty(m_primary, std::move(next), this, &MenuBarModel::primaryChanged);
}

void MenuBarModel::updateSubscription()
{
    Subscription next;
    if (m_subscriptions && m_subscriptions->latest()) {
        const SubscriptionOut &subscription = *m_subscriptions->latest();
        next.present = true;
        next.traffic = SubscriptionFormat::traffic(subscription.usedBytes, subscription.dataLimitBytes);
        next.expiry = SubscriptionFormat::expiry(subscription.expireUnix, *m_clock);
    }
    updateProperty(m_subscription, std::move(next), this, &MenuBarModel::subscriptionLineChanged);
}

} // namespace kovra::ui
