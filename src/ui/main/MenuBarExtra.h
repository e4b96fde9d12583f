#pragma once

#include "platform/Clock.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QQmlEngine;
class QQuickView;
class QSystemTrayIcon;

namespace kovra {

class ConnectionStore;
class ConnectivityEngine;
class ConnectCoordinator;
class SubscriptionStore;

namespace ui {

class Appearance;
class MenuBarModel;
class MenuBarIcon;

// What the extra shows; the app's container owns all of it.
struct MenuBarSources {
    ConnectCoordinator *coordinator = nullptr;
    ConnectivityEngine *connectivity = nullptr;
    SubscriptionStore *subscriptions = nullptr;
    ConnectionStore *connections = nullptr;
};

// What the footer actions do in the app. Each may be empty (the action then only
// closes the panel).
struct MenuBarActions {
    // Shows, raises and activates the main window, hidden or not.
    std::function<void()> openMainWindow;
    // Opens the settings window, or raises it.
    std::function<void()> openSettings;
    std::function<void()> quit;
};

struct MenuBarExtraOptions {
    // The engine the panel is built by, prepared with the design module (it must
    // outlive the extra); none: an engine of the extra's own.
    QQmlEngine *engine = nullptr;
    // What the icon's colour follows; none: the Appearance installed on `engine`, else
    // a light one.
    Appearance *appearance = nullptr;
    // Dates the expiry text and times the guard below.
    std::shared_ptr<Clock> clock = Clock::system();
    // A click on the icon this soon after the panel closed for losing the focus (to
    // that very click) leaves it closed instead of opening it again.
    std::chrono::milliseconds reopenGuard{400};
    // Whether the panel places itself next to the icon; default: everywhere but on
    // Wayland, where the compositor places windows.
    std::optional<bool> placesPanel;
};

// The menu-bar extra on a Linux desktop: a tray icon whose image shows the connection
// state (its tooltip the status text), the panel (MenuBarView.qml in a frameless
// window, built on first use) that a click on the icon opens next to the icon (at
// the icon's geometry when the tray reports one, else at the pointer, kept inside
// the screen's available area), and the icon's context menu with the same four
// actions (the connect item with the panel button's title and enabled state; the
// app's keys beside their items), for tray hosts that deliver only a menu.
//
// The panel closes when it loses the focus, on Escape, on a second click on the icon
// and after each footer action. The icon is not shown until setIconVisible(true).
// Lives on the GUI thread; the context menu exists only in a QApplication.
class MenuBarExtra : public QObject {
    Q_OBJECT
public:
    using Options = MenuBarExtraOptions;

    // Space between the icon and the panel.
    static constexpr int kPanelGap = 4;

    MenuBarExtra(MenuBarSources sources, MenuBarActions actions, Options options = {}, QObject *parent = nullptr);
    ~MenuBarExtra() override;

    MenuBarModel *model() const { return m_model; }
    MenuBarIcon *icon() const { return m_icon; }
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    // Null outside a QApplication.
    QMenu *contextMenu() const { return m_menu.get(); }
    // Null until the panel first opens.
    QQuickView *panel() const { return m_panel.get(); }

    // Whether the desktop has a tray host to show the icon in now.
    static bool isTrayAvailable();

    void setIconVisible(bool visible);
    bool isIconVisible() const;

    bool isPanelOpen() const;
    // Opens the panel next to `anchor` (global coordinates): the icon's geometry
    // when the tray reports it, else the pointer.
    void openPanel(std::optional<QRect> anchor = std::nullopt);
    void closePanel();
    // What a click on the icon does: opens the panel, or closes an open one.
    void togglePanel(std::optional<QRect> anchor = std::nullopt);

    // Where a panel of `size` goes for an icon at `anchor`: centred under it when the
    // icon is in the upper half of `available`, else centred above it, `kPanelGap`
    // away, then moved inside `available` (its top-left corner first where it cannot
    // fit).
    static QPoint panelPosition(const QRect &anchor, const QSize &size, const QRect &available);

Q_SIGNALS:
    void panelOpenChanged();

private:
    void buildMenu();
    void updateMenu();
    void ensurePanel();
    void placePanel();
    void panelActiveChanged();
    void runAction(const std::function<void()> &action);
    std::optional<QRect> iconAnchor() const;

    MenuBarActions m_actions;
    Options m_options;
    std::unique_ptr<Appearance> m_ownAppearance;
    std::unique_ptr<QQmlEngine> m_ownEngine;
    QPointer<QQmlEngine> m_engine;
    MenuBarModel *m_model;
    MenuBarIcon *m_icon;
    QSystemTrayIcon *m_tray;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_primaryAction = nullptr;
    std::unique_ptr<QQuickView> m_panel;
    QRect m_anchor;
    std::optional<MonotonicInstant> m_closedByFocusLoss;
};

} // namespace ui
} // namespace kovra
