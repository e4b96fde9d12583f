#pragma once

#include "platform/Clock.h"
#include "platform/VPNStatus.h"
#include "ui/design/DesignTypes.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <memory>

namespace kovra {

class ConnectionStore;
class ConnectivityEngine;
class ConnectCoordinator;
class SubscriptionStore;

namespace ui {

// What the menu-bar extra shows: the icon's shield symbol and tooltip, and the
// panel's rows (status header, connection line, primary button, subscription line,
// footer actions).
//
// Every value follows the connect coordinator, the engine's verdict (the dot glows
// exactly while it is online) and the two stores; each group notifies only when one
// of its values changes. The expiry text depends on the time: it is recomputed when
// the subscription changes and on refreshTimeTexts() (the panel calls it when it
// opens), never by a timer. A collaborator that is gone reads as absent. Lives on
// the GUI thread.
class MenuBarModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the menu-bar extra")
    Q_PROPERTY(QString labelSymbol READ labelSymbol NOTIFY labelSymbolChanged)

    Q_PROPERTY(kovra::ui::StatusDotState::Value statusDotState READ statusDotState NOTIFY headerChanged)
    Q_PROPERTY(bool statusGlow READ statusGlow NOTIFY headerChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY headerChanged)
    // The Brand colour token of the status text: "success", "warning", "danger" or
    // "textSecondary".
    Q_PROPERTY(QString statusColorRole READ statusColorRole NOTIFY headerChanged)

    Q_PROPERTY(bool hasConnection READ hasConnection NOTIFY connectionLineChanged)
    Q_PROPERTY(QString connectionFlags READ connectionFlags NOTIFY connectionLineChanged)
    Q_PROPERTY(QString connectionLabel READ connectionLabel NOTIFY connectionLineChanged)
    Q_PROPERTY(QString autoLabel READ autoLabel CONSTANT)

    Q_PROPERTY(QString primaryTitle READ primaryTitle NOTIFY primaryChanged)
    // The Brand colour token of the button's tint: "danger" or "accent".
    Q_PROPERTY(QString primaryTint READ primaryTint NOTIFY primaryChanged)
    Q_PROPERTY(bool primaryEnabled READ primaryEnabled NOTIFY primaryChanged)

    Q_PROPERTY(bool hasSubscription READ hasSubscription NOTIFY subscriptionLineChanged)
    Q_PROPERTY(QString trafficText READ trafficText NOTIFY subscriptionLineChanged)
    Q_PROPERTY(QString expiryText READ expiryText NOTIFY subscriptionLineChanged)
    Q_PROPERTY(QString subscriptionAccessibilityName READ subscriptionAccessibilityName
                   NOTIFY subscriptionLineChanged)

    Q_PROPERTY(QString openTitle READ openTitle CONSTANT)
    Q_PROPERTY(QString settingsTitle READ settingsTitle CONSTANT)
    Q_PROPERTY(QString quitTitle READ quitTitle CONSTANT)
public:
    MenuBarModel(ConnectCoordinator *coordinator, ConnectivityEngine *connectivity,
                    SubscriptionStore *subscriptions, ConnectionStore *connections,
                    std::shared_ptr<Clock> clock = Clock::system(), QObject *parent = nullptr);
    ~MenuBarModel() override;

    QString labelSymbol() const { return m_symbol; }

    StatusDotState::Value statusDotState() const { return m_header.dot; }
    bool statusGlow() const { return m_header.glow; }
    QString statusText() const { return m_header.text; }
    QString statusColorRole() const { return m_header.colorRole; }

    bool hasConnection() const { return m_line.hasConnection; }
    QString connectionFlags() const { return m_line.flags; }
    QString connectionLabel() const { return m_line.label; }
    static QString autoLabel();

    QString primaryTitle() const { return m_primary.title; }
    // "Отключиться" while the effective status is connecting, connected or
    // reasserting, else "Подключиться"; the connection menu shows the same title.
    static QString connectTitleFor(VPNStatus effectiveStatus);
    // The keys of the connection menu and the window, which the tray's menu shows too.
    static QString connectShortcut() { return QStringLiteral("Ctrl+K"); }
    static QString refreshShortcut() { return QStringLiteral("Ctrl+R"); }
    static QString settingsShortcut() { return QStringLiteral("Ctrl+,"); }
    static QString quitShortcut() { return QStringLiteral("Ctrl+Q"); }
    QString primaryTint() const { return m_primary.tint; }
    bool primaryEnabled() const { return m_primary.enabled; }

    bool hasSubscription() const { return m_subscription.present; }
    QString trafficText() const { return m_subscription.traffic; }
    QString expiryText() const { return m_subscription.expiry; }
    QString subscriptionAccessibilityName() const;

    static QString openTitle();
    static QString settingsTitle();
    static QString quitTitle();

    // The primary button (and Return): the coordinator's toggle, only while enabled.
    Q_INVOKABLE void activatePrimary();
    // The footer actions and Escape: each announces itself; the extra acts on them.
    Q_INVOKABLE void openMainWindow() { Q_EMIT mainWindowRequested(); }
    Q_INVOKABLE void openSettings() { Q_EMIT settingsRequested(); }
    Q_INVOKABLE void quit() { Q_EMIT quitRequested(); }
    Q_INVOKABLE void dismiss() { Q_EMIT dismissRequested(); }
    // Recomputes the texts that depend on the time (the expiry).
    Q_INVOKABLE void refreshTimeTexts();

Q_SIGNALS:
    void labelSymbolChanged();
    void headerChanged();
    void connectionLineChanged();
    void primaryChanged();
    void subscriptionLineChanged();
    void mainWindowRequested();
    void settingsRequested();
    void quitRequested();
    void dismissRequested();

private:
    struct Header {
        StatusDotState::Value dot = StatusDotState::Inactive;
        bool glow = false;
        QString text;
        QString colorRole;
        bool operator==(const Header &) const = default;
    };
    struct Line {
        bool hasConnection = false;
        QString flags;
        QString label;
        bool operator==(const Line &) const = default;
    };
    struct Primary {
        QString title;
        QString tint;
        bool enabled = false;
        bool operator==(const Primary &) const = default;
    };
    struct Subscription {
        bool present = false;
        QString traffic;
        QString expiry;
        bool operator==(const Subscription &) const = default;
    };

    void updateHeader();
    void updateLine();
    void updatePrimary();
    void updateSubscription();

    QPointer<ConnectCoordinator> m_coordinator;
    QPointer<ConnectivityEngine> m_connectivity;
    QPointer<SubscriptionStore> m_subscriptions;
    QPointer<ConnectionStore> m_connections;
    std::shared_ptr<Clock> m_clock;

    QString m_symbol;
    Header m_header;
    Line m_line;
    Primary m_primary;
    Subscription m_subscription;
};

} // namespace ui
} // namespace kovra
