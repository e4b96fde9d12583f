#pragma once

#include "ui/account/SubscriptionStripModel.h"
#include "platform/Cancellation.h"
#include "platform/Clock.h"
#include "ui/design/DesignTypes.h"
#include "ui/diagnostics/DiagnosticsViewOptions.h"
#include "ui/main/HomeNotice.h"
#include "ui/main/SheetSlot.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWindow>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

class QQmlEngine;

namespace kovra {

class ConnectionStore;
class ConnectivityEngine;
class EntryStore;
class ConnectCoordinator;
class MeStore;
class RegionStore;
class SubscriptionStore;
class TunnelController;
class UrlOpener;

namespace ui {

class AccountScreens;

// The stores the home window shows and refreshes; the app's container owns them.
struct HomeStores {
    SubscriptionStore *subscriptions = nullptr;
    MeStore *me = nullptr;
    ConnectionStore *connections = nullptr;
    RegionStore *regions = nullptr;
    EntryStore *entries = nullptr;
};

struct HomeModelOptions {
    // What the diagnostics sheet is built with (the service's base URLs, the probe
    // targets, the folders): the app's own.
    DiagnosticsViewOptions diagnostics;
    // Opens the activation banner's settings link; default: the desktop's opener.
    std::shared_ptr<UrlOpener> linkOpener;
    // The engine the sheets are built by; default: the engine of the window's QML.
    QQmlEngine *sheetEngine = nullptr;
    // Times the picker's progress rows (and the diagnostics sheet when it has no clock).
    std::shared_ptr<Clock> clock = Clock::system();
};

// The home window: the connect button and the status line under it, the connection
// row, the notice slot and the subscription card's inputs, the two sheet flags, and
// what happens while the window is on screen.
//
// Everything it shows comes from the connect coordinator, the connectivity engine's
// verdict (the dot glows exactly while it is online) and the stores; the status
// text's colour follows the dot's state, never the verdict.
//
// Reactions: a change of the tunnel's status to connecting, reasserting or
// disconnecting closes the connection picker. Each time the window comes on screen
// (`onScreen` becomes true) the start watchdog is armed when the tunnel is
// connecting or reasserting, and the appearance task runs: attach the tunnel
// controller, seed the engine once, refresh the subscription, connection, user,
// region and entry stores at once, await them in that order, then activate the tunnel
// provider. Leaving the screen cancels the task (the store refreshes it started run
// on; nothing after them happens).
//
// The sheets open over `window` while their flag is set: the picker and the
// diagnostics sheet (built with the tunnel controller and no engine), each a
// window-modal child window; the user's dismissal clears the flag, clearing the flag
// closes the sheet. Every collaborator is held weakly (one that is gone reads as
// absent). Lives on the GUI thread.
class HomeModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("made by the app")
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString diagnosticsLabel READ diagnosticsLabel CONSTANT)
    Q_PROPERTY(QString settingsLabel READ settingsLabel CONSTANT)
    Q_PROPERTY(QString backLabel READ backLabel CONSTANT)
    Q_PROPERTY(QString connectionHeading READ connectionHeading CONSTANT)
    Q_PROPERTY(qreal noticeSlotMinHeight READ noticeSlotMinHeight CONSTANT)

    Q_PROPERTY(QString statusText READ statusText NOTIFY heroChanged)
    // The Brand colour token of the status text: "success", "warning", "danger" or
    // "textSecondary".
    Q_PROPERTY(QString statusTextColorRole READ statusTextColorRole NOTIFY heroChanged)
    Q_PROPERTY(kovra::ui::StatusDotState::Value statusDotState READ statusDotState NOTIFY heroChanged)
    Q_PROPERTY(bool statusGlow READ statusGlow NOTIFY heroChanged)
    Q_PROPERTY(kovra::ui::ConnectButtonVisual::Value buttonVisual READ buttonVisual NOTIFY heroChanged)
    Q_PROPERTY(bool canInteract READ canInteract NOTIFY heroChanged)
    Q_PROPERTY(QString buttonAccessibilityLabel READ statusText NOTIFY heroChanged)
    Q_PROPERTY(QString buttonAccessibilityHint READ buttonAccessibilityHint CONSTANT)

    Q_PROPERTY(bool hasConnection READ hasConnection NOTIFY connectionRowChanged)
    Q_PROPERTY(QString connectionFlags READ connectionFlags NOTIFY connectionRowChanged)
    Q_PROPERTY(QString connectionLabel READ connectionLabel NOTIFY connectionRowChanged)
    Q_PROPERTY(QString autoLabel READ autoLabel CONSTANT)
    Q_PROPERTY(bool canChangeConnection READ canChangeConnection NOTIFY connectionRowChanged)
    Q_PROPERTY(QString connectionTooltip READ connectionTooltip NOTIFY connectionRowChanged)
    Q_PROPERTY(QString connectionAccessibilityLabel READ connectionAccessibilityLabel CONSTANT)
    Q_PROPERTY(QString connectionAccessibilityValue READ connectionAccessibilityValue NOTIFY connectionRowChanged)

    Q_PROPERTY(bool showDiagnostics READ showDiagnostics WRITE setShowDiagnostics NOTIFY showDiagnosticsChanged)
    Q_PROPERTY(bool showConnectionPicker READ showConnectionPicker WRITE setShowConnectionPicker
                   NOTIFY showConnectionPickerChanged)
    Q_PROPERTY(kovra::ui::HomeNotice *notice READ notice CONSTANT)
    // The subscription card's model (from the account screens; null without them).
    Q_PROPERTY(kovra::ui::SubscriptionStripModel *subscriptionCard READ subscriptionCard CONSTANT)

    // Set by the view: whether the home content is shown in a visible window.
    Q_PROPERTY(bool onScreen READ isOnScreen WRITE setOnScreen NOTIFY onScreenChanged)
    // Set by the view: the window the sheets open over.
    Q_PROPERTY(QWindow *window READ window WRITE setWindow NOTIFY windowChanged)
public:
    using Options = HomeModelOptions;

    // The body text size the layout metrics are drawn for.
    static constexpr int kDesignBodyPixelSize = 14;

    HomeModel(ConnectCoordinator *coordinator, ConnectivityEngine *connectivity, TunnelController *tunnel,
                 HomeStores stores, const AccountScreens *accountScreens, Options options = {},
                 QObject *parent = nullptr);
    ~HomeModel() override;

    QString title() const;
    QString diagnosticsLabel() const;
    QString settingsLabel() const;
    QString backLabel() const;
    QString connectionHeading() const;
    // 32, scaled by the body text's size against the design's.
    qreal noticeSlotMinHeight() const;

    QString statusText() const { return m_hero.text; }
    QString statusTextColorRole() const { return m_hero.colorRole; }
    StatusDotState::Value statusDotState() const { return m_hero.dot; }
    bool statusGlow() const { return m_hero.glow; }
    ConnectButtonVisual::Value buttonVisual() const { return m_hero.visual; }
    bool canInteract() const { return m_hero.canInteract; }
    QString buttonAccessibilityHint() const { return {}; }

    bool hasConnection() const { return m_row.hasConnection; }
    QString connectionFlags() const { return m_row.flags; }
    QString connectionLabel() const { return m_row.label; }
    QString autoLabel() const;
    bool canChangeConnection() const { return m_row.canChange; }
    QString connectionTooltip() const;
    QString connectionAccessibilityLabel() const;
    QString connectionAccessibilityValue() const;

    bool showDiagnostics() const { return m_showDiagnostics; }
    void setShowDiagnostics(bool shown);
    bool showConnectionPicker() const { return m_showConnectionPicker; }
    void setShowConnectionPicker(bool shown);

    HomeNotice *notice() const { return m_notice; }
    SubscriptionStripModel *subscriptionCard() const { return m_subscriptionCard; }
    // For the screens pushed onto the home window's stack (the subscription card's detail).
    const AccountScreens *accountScreens() const { return m_accountScreens; }

    bool isOnScreen() const { return m_onScreen; }
    void setOnScreen(bool onScreen);
    QWindow *window() const { return m_window; }
    void setWindow(QWindow *window);

    // The open sheets' presentations (null while closed).
    SheetHost *diagnosticsSheet() const { return m_diagnosticsSheet.host(); }
    SheetHost *connectionPickerSheet() const { return m_pickerSheet.host(); }

    // The connect button's action.
    Q_INVOKABLE void toggle();
    // The connection row's action; nothing while the connection may not change.
    Q_INVOKABLE void openConnectionPicker();
    Q_INVOKABLE void openDiagnostics();
    // The settings button: asks the app for its settings window.
    Q_INVOKABLE void openSettings();

Q_SIGNALS:
    void heroChanged();
    void connectionRowChanged();
    void showDiagnosticsChanged();
    void showConnectionPickerChanged();
    void onScreenChanged();
    void windowChanged();
    void settingsRequested();

private:
    struct Hero {
        QString text;
        QString colorRole = QStringLiteral("textSecondary");
        StatusDotState::Value dot = StatusDotState::Inactive;
        bool glow = false;
        ConnectButtonVisual::Value visual = ConnectButtonVisual::Idle;
        bool canInteract = false;
        bool operator==(const Hero &) const = default;
    };
    struct Row {
        bool hasConnection = false;
        QString flags;
        QString label;
        bool canChange = false;
        bool operator==(const Row &) const = default;
    };

    void updateHero();
    void updateRow();
    void tunnelStatusChanged();
    void appear();
    void leave();
    void syncSheets();
    SheetHost *presentDiagnostics(QWindow *parent);
    SheetHost *presentPicker(QWindow *parent);
    static QCoro::Task<void> runAppearance(QPointer<HomeModel> self, CancellationToken token);

    QPointer<ConnectCoordinator> m_coordinator;
    QPointer<ConnectivityEngine> m_connectivity;
    QPointer<TunnelController> m_tunnel;
    QPointer<SubscriptionStore> m_subscriptions;
    QPointer<MeStore> m_me;
    QPointer<ConnectionStore> m_connections;
    QPointer<RegionStore> m_regions;
    QPointer<EntryStore> m_entries;
    const AccountScreens *m_accountScreens;
    Options m_options;

    HomeNotice *m_notice;
    SubscriptionStripModel *m_subscriptionCard = nullptr;
    Hero m_hero;
    Row m_row;
    bool m_showDiagnostics = false;
    bool m_showConnectionPicker = false;
    bool m_onScreen = false;
    QPointer<QWindow> m_window;
    SheetSlot m_diagnosticsSheet;
    SheetSlot m_pickerSheet;
    // The running appearance task's cancellation.
    std::optional<CancellationSource> m_appearance;
};

} // namespace ui
} // namespace kovra
