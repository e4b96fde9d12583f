#include "ui/main/MacMenuBarModel.h"

#include "account/SubscriptionStore.h"
#include "app/AppCommands.h"
#include "app/MacConnectCoordinator.h"
#include "catalog/ConnectionStore.h"
#include "connectivity/ConnectivityEngine.h"
#include "platform/L10n.h"
#include "platform/Property.h"
#include "ui/account/SubscriptionFormat.h"
#include "ui/main/StatusLook.h"

namespace kovra::ui {

namespace {

// The statuses in which the primary button stops the tunnel.
bool isUpOrComingUp(VPNStatus status)
{
    return status == VPNStatus::Connecting || status == VPNStatus::Connected || status == VPNStatus::Reasserting;
}

} // namespace

MacMenuBarModel::MacMenuBarModel(MacConnectCoordinator *coordinator, ConnectivityEngine *connectivity,
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
        for (auto signal : {&MacConnectCoordinator::statusTextChanged, &MacConnectCoordinator::statusDotStateChanged})
            connect(coordinator, signal, this, &MacMenuBarModel::updateHeader);
        for (auto signal :
             {&MacConnectCoordinator::effectiveStatusChanged, &MacConnectCoordinator::isToggleEnabledChanged})
            connect(coordinator, signal, this, &MacMenuBarModel::updatePrimary);
    }
    if (connectivity)
        connect(connectivity, &ConnectivityEngine::verdictChanged, this, &MacMenuBarModel::updateHeader);
    if (connections)
        connect(connections, &ConnectionStore::currentConnectionChanged, this, &MacMenuBarModel::updateLine);
    if (subscriptions)
        connect(subscriptions, &SubscriptionStore::latestChanged, this, &MacMenuBarModel::updateSubscription);
    updateHeader();
    updateLine();
    updatePrimary();
    updateSubscription();
}

MacMenuBarModel::~MacMenuBarModel() = default;

QString MacMenuBarModel::autoLabel()
{
    return L10n::text("home.connection.auto", u"Авто");
}

QString MacMenuBarModel::openTitle()
{
    return L10n::text("menubar.open", u"Открыть Kovra S");
}

QString MacMenuBarModel::settingsTitle()
{
    return L10n::text("home.settings", u"Настройки");
}

QString MacMenuBarModel::quitTitle()
{
    return L10n::text("menubar.quit", u"Завершить");
}

QString MacMenuBarModel::subscriptionAccessibilityName() const
{
    if (!m_subscription.present)
        return {};
    return m_subscription.traffic + QStringLiteral(", ") + m_subscription.expiry;
}

void MacMenuBarModel::activatePrimary()
{
    // Read afresh: the published value may lag a change queued behind this press.
    if (m_coordinator && m_coordinator->isToggleEnabled())
        m_coordinator->toggle();
}

void MacMenuBarModel::refreshTimeTexts()
{
    updateSubscription();
}

void MacMenuBarModel::updateHeader()
{
    Header next;
    if (m_coordinator) {
        next.dot = m_coordinator->statusDotState();
        next.text = m_coordinator->statusText();
    }
    next.glow = m_connectivity && m_connectivity->verdict() == ConnectivityVerdict::online;
    next.colorRole = statusTextColorRole(next.dot);
    updateProperty(m_symbol, menuBarSymbol(next.dot), this, &MacMenuBarModel::labelSymbolChanged);
    updateProperty(m_header, std::move(next), this, &MacMenuBarModel::headerChanged);
}

void MacMenuBarModel::updateLine()
{
    Line next;
    const std::optional<Connection> current = m_connections ? m_connections->currentConnection() : std::nullopt;
    if (current) {
        next.hasConnection = true;
        next.flags = current->flags;
        next.label = current->label;
    }
    updateProperty(m_line, std::move(next), this, &MacMenuBarModel::connectionLineChanged);
}

void MacMenuBarModel::updatePrimary()
{
    const VPNStatus status = m_coordinator ? m_coordinator->effectiveStatus() : VPNStatus::Invalid;
    Primary next;
    next.title = AppCommands::connectTitleFor(status);
    next.tint = isUpOrComingUp(status) ? QStringLiteral("danger") : QStringLiteral("accent");
    next.enabled = m_coordinator && m_coordinator->isToggleEnabled();
    updateProperty(m_primary, std::move(next), this, &MacMenuBarModel::primaryChanged);
}

void MacMenuBarModel::updateSubscription()
{
    Subscription next;
    if (m_subscriptions && m_subscriptions->latest()) {
        const SubscriptionOut &subscription = *m_subscriptions->latest();
        next.present = true;
        next.traffic = SubscriptionFormat::traffic(subscription.usedBytes, subscription.dataLimitBytes);
        next.expiry = SubscriptionFormat::expiry(subscription.expireUnix, *m_clock);
    }
    updateProperty(m_subscription, std::move(next), this, &MacMenuBarModel::subscriptionLineChanged);
}

} // namespace kovra::ui
