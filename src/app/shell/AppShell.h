#pragma once

#include "app/AppOptions.h"
#include "app/shell/SingleInstance.h"
#include "platform/Log.h"

#include <QObject>
#include <QPointer>
#include <QQuickWindow>
#include <QSize>
#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QQmlComponent;
class QQmlEngine;
class QQuickItem;

namespace kovra {

class KovraApp;

namespace ui {
class AccountScreens;
class Appearance;
class DesktopAppearance;
class MenuBarExtra;
class RootModel;
class SettingsSceneModel;
} // namespace ui

struct ShellOptions {
    // Whether the desktop has a tray to show the menu-bar icon in; asked when the app
    // starts and each time the main window is closed. Without one, closing the main
    // window quits (it would be unreachable). Default: whether the desktop's tray
    // host answers (MenuBarExtra::isTrayAvailable).
    std::function<bool()> trayAvailable;
    // Where the lock file and the local socket of the one app per user are; empty: the
    // folder of the tunnel provider's socket.
    QString instanceFolder;
    std::chrono::milliseconds instanceAnswerBound{2000};
    // Ends the process's event loop once everything is released; default:
    // QCoreApplication::exit() with 0, or 1 when a window could not be built
    // (AppShell::hasFailed()).
    std::function<void()> exitApplication;
    // Animations off (KOVRA_REDUCE_MOTION, read by the caller).
    bool reduceMotionRequested = false;
    // Called once, when the main window has shown its first frame, on the thread that
    // drew it (KOVRA_PRINT_FIRST_FRAME, read by the caller). None: nothing is called.
    std::function<void()> firstFrameShown;
};

// The app's windows over the start-up (KovraApp): the one main window with its
// connection menu and keys, the settings window (built on first open), the close
// policy, the menu-bar extra (a tray icon and its panel, shown while the desktop
// has a tray) and the one-app-per-user lock. Built after QApplication exists; main()
// builds one, awaits start() and runs the event loop. Lives on the GUI thread.
//
// Keys (all application-wide): Ctrl+K the connect item, Ctrl+R the refresh item,
// Ctrl+, the settings window, Ctrl+Q quit.
class AppShell : public QObject {
    Q_OBJECT
public:
    using Claim = SingleInstance::Claim;

    // The Controls style the windows are drawn with (the design system's components
    // come from the templates and look the same in any style).
    static inline const QString kControlsStyle = QStringLiteral("Fusion");

    // Builds the app (KovraApp) and the QML engine; shows nothing. Throws what the
    // app's constructor throws.
    AppShell(AppOptions options, ShellOptions shellOptions = {}, QObject *parent = nullptr);
    ~AppShell() override;

    // Claims the one app per user; as the one, builds the main window while it restores
    // the session, then shows it. Any other outcome shows nothing (problem() says why for Unanswered
    // and Failed); the caller then ends the process. A main window that cannot be built
    // ends the app as a failure (Failed, after the exit below). Never throws.
    QCoro::Task<Claim> start();
    QString problem() const;

    KovraApp *app() const { return m_app.get(); }
    SingleInstance *instance() const { return m_instance.get(); }
    // Null until first shown.
    QQuickWindow *mainWindow() const { return m_mainWindow; }
    // Null until first opened.
    QQuickWindow *settingsWindow() const { return m_settingsWindow; }
    QQmlEngine *engine() const { return m_engine.get(); }
    // Null until the main window's first frame (or its first close) after the start.
    ui::MenuBarExtra *menuBar() const { return m_menuBar.get(); }

    // Shows, raises and activates the one main window (built the first time).
    Q_INVOKABLE void showMainWindow();
    // Shows, raises and activates the settings window (built the first time).
    Q_INVOKABLE void openSettings();
    // Hides the windows, stops the warm-up, releases the lock and the socket, then ends
    // the event loop. Once.
    Q_INVOKABLE void quit();
    bool hasQuit() const { return m_quit; }
    // A window or its content could not be built from its QML (a module that is not
    // installed, a broken file): the app has quit as above, logging the QML errors,
    // which problem() holds.
    bool hasFailed() const { return !m_failure.isEmpty(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // An object of `kind` from the QML file; null when it cannot be built (m_buildError
    // then holds the QML errors, which name the file and the module that failed).
    QObject *create(const QString &url, const QVariantMap &properties, const QMetaObject &kind);
    QQuickWindow *createWindow(const QString &file, const QVariantMap &properties);
    // Builds the main window and its content once; shows nothing. False when either
    // cannot be built (m_buildError says why).
    bool buildMainWindow();
    // Quits as a failure: logs `problem`, which problem() then returns.
    void fail(const QString &problem);
    // The quit itself: windows and tray away, warm-up stopped, lock released, loop ended.
    void end();
    void placeContent(QQuickWindow *window, QQuickItem *content);
    QQuickItem *createItem(const QString &url, const QVariantMap &properties, QObject *owner);
    void mainWindowVisibilityChanged(bool visible);
    // What the two windows show: the root view (sign-in or home) and the settings scene.
    QQuickItem *makeMainContent(QQuickWindow *window);
    QQuickItem *makeSettingsContent(QQuickWindow *window);
    void makeMenuBar();
    // Shows the tray icon while the desktop has a tray, hides it otherwise; returns
    // whether it is shown.
    bool syncTrayIcon();

    ShellOptions m_options;
    std::unique_ptr<KovraApp> m_app;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<ui::Appearance> m_appearance;
    std::unique_ptr<ui::DesktopAppearance> m_desktopAppearance;
    std::unique_ptr<ui::AccountScreens> m_accountScreens;
    std::unique_ptr<QQmlEngine> m_engine;
    // The main window's components, loading until it is built.
    std::vector<std::unique_ptr<QQmlComponent>> m_preloads;
    QPointer<QQuickWindow> m_mainWindow;
    QPointer<QQuickItem> m_mainContent;
    QPointer<QQuickWindow> m_settingsWindow;
    std::unique_ptr<ui::RootModel> m_rootModel;
    std::unique_ptr<ui::SettingsSceneModel> m_settingsModel;
    std::unique_ptr<ui::MenuBarExtra> m_menuBar;
    bool m_started = false;
    bool m_quit = false;
    QString m_failure;
    QString m_buildError;
    Logger m_log{QStringLiteral("App")};
};

} // namespace kovra
