#include "app/AppCommands.h"

#include "account/AuthState.h"
#include "account/SubscriptionStore.h"
#include "ui/main/ConnectCoordinator.h"
#include "ui/main/MenuBarModel.h"
#include "catalog/ConnectionStore.h"
#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/Property.h"

namespace kovra {

AppCommands::AppCommands(ConnectCoordinator *connect, AuthState *authState, SubscriptionStore *subscriptions,
                         ConnectionStore *connections, QObject *parent)
    : QObject(parent), m_connect(connect), m_authState(authState), m_subscriptions(subscriptions),
      m_connections(connections)
{
    if (connect)
        QObject::connect(connect, &ConnectCoordinator::effectiveStatusChanged, this,
                         &AppCommands::updateConnectTitle);
    m_connectTitle = ui::MenuBarModel::connectTitleFor(connect ? connect->effectiveStatus() : VPNStatus::Invalid);
}

QString AppCommands::menuTitle()
{
    return L10n::text("menu.connection", u"Соединение");
}

QString AppCommands::refreshTitle()
{
    return L10n::text("menu.refresh", u"Обновить подписку");
}

void AppCommands::updateConnectTitle()
{
    const QString title = ui::MenuBarModel::connectTitleFor(m_connect ? m_connect->effectiveStatus() : VPNStatus::Invalid);
    updateProperty(m_connectTitle, title, this, &AppCommands::connectTitleChanged);
}

void AppCommands::toggle()
{
    if (m_connect)
        m_connect->toggle();
}

void AppCommands::refresh()
{
    runRefresh(m_authState, m_subscriptions, m_connections);
}

QCoro::Task<void> AppCommands::refreshAll()
{
    return runRefresh(m_authState, m_subscriptions, m_connections);
}

QCoro::Task<void> AppCommands::runRefresh(QPointer<AuthState> authState, QPointer<SubscriptionStore> subscriptions,
                                          QPointer<ConnectionStore> connections)
{
    try {
        const bool signedIn = authState && authState->statusKind() == AuthState::StatusKind::authenticated;
        if (signedIn && subscriptions)
            co_await subscriptions->refresh();
        if (connections)
            co_await connections->refresh();
    } catch (...) {
        // The stores keep their failures to themselves; anything else is only logged.
        Logger(QStringLiteral("App")).error(QStringLiteral("refresh failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

} // namespace kovra
