#pragma once

#include "platform/VPNStatus.h"
#include "ui/main/MenuBarModel.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <qcoro/qcorotask.h>

namespace kovra {

class AuthState;
class ConnectionStore;
class ConnectCoordinator;
class SubscriptionStore;

// The connection menu: its title, the connect item (its title follows the effective
// status; it is never disabled, the connect model decides what a press does) and the
// refresh item. Everything it uses is held weakly; what is gone is left out. Lives on
// the GUI thread.
class AppCommands : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString menuTitle READ menuTitle CONSTANT)
    Q_PROPERTY(QString connectTitle READ connectTitle NOTIFY connectTitleChanged)
    Q_PROPERTY(bool connectEnabled READ connectEnabled CONSTANT)
    Q_PROPERTY(QString connectShortcut READ connectShortcut CONSTANT)
    Q_PROPERTY(QString refreshTitle READ refreshTitle CONSTANT)
    Q_PROPERTY(QString refreshShortcut READ refreshShortcut CONSTANT)
    Q_PROPERTY(QString settingsShortcut READ settingsShortcut CONSTANT)
    Q_PROPERTY(QString quitShortcut READ quitShortcut CONSTANT)
public:
    AppCommands(ConnectCoordinator *connect, AuthState *authState, SubscriptionStore *subscriptions,
                ConnectionStore *connections, QObject *parent = nullptr);

    // "Соединение".
    static QString menuTitle();
    // The menu-bar panel's connect title for the effective status. Notifies only on a
    // change.
    QString connectTitle() const { return m_connectTitle; }
    bool connectEnabled() const { return true; }
    static QString connectShortcut() { return ui::MenuBarModel::connectShortcut(); }
    // "Обновить подписку".
    static QString refreshTitle();
    static QString refreshShortcut() { return ui::MenuBarModel::refreshShortcut(); }
    // The app's other keys: the settings window and quit.
    static QString settingsShortcut() { return ui::MenuBarModel::settingsShortcut(); }
    static QString quitShortcut() { return ui::MenuBarModel::quitShortcut(); }

    // The connect item's action: the connect model's toggle().
    Q_INVOKABLE void toggle();
    // The refresh item's action: starts refreshAll() without waiting.
    Q_INVOKABLE void refresh();
    // Signed in: the subscription, then the connection catalogue. Otherwise only the
    // catalogue: without a session the subscription call would be refused and end the
    // session, which would cancel a sign-in under way. Never throws.
    QCoro::Task<void> refreshAll();

Q_SIGNALS:
    void connectTitleChanged();

private:
    static QCoro::Task<void> runRefresh(QPointer<AuthState> authState, QPointer<SubscriptionStore> subscriptions,
                                        QPointer<ConnectionStore> connections);
    void updateConnectTitle();

    QPointer<ConnectCoordinator> m_connect;
    QPointer<AuthState> m_authState;
    QPointer<SubscriptionStore> m_subscriptions;
    QPointer<ConnectionStore> m_connections;
    QString m_connectTitle;
};

} // namespace kovra
