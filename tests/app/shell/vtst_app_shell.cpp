#include "account/KeychainStore.h"
#include "app/KovraApp.h"
#include "app/shell/AppShell.h"
#include "platform/Log.h"
#include "tunnel/ProviderConfiguration.h"
#include "ui/design/PreviewHost.h"
#include "ui/main/MenuBarExtra.h"
#include "ui/main/MenuBarModel.h"
#include "ui/design/QmlWarnings.h"

#include <QDir>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <atomic>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/FakeService.h"
#include "support/FixedPathSource.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;
using test::FakeReply;

namespace {

const QByteArray kSubscription =
    "{\"subscription_url\":\"https://sub.example/u\",\"status\":\"active\",\"data_limit_bytes\":0,\"used_bytes\":0}";

// The shell built as the executable builds it, over the fake service and provider in
// a private home; a tray that the test turns on and off, and a counted exit.
struct ShellRig {
    explicit ShellRig(std::optional<QString> token = {})
    {
        if (token) {
            test::await(KeychainStore(keychain).saveJWT(*token));
            service.script(test::FakeService::anyHost, "GET", QStringLiteral("/me/subscription"),
                           {FakeReply::json(200, kSubscription)});
        }
        AppOptions options;
        for (ReachabilityService &s : options.targets.reachability)
            s.url = test::FakeService::closedPortURL(QStringLiteral("/")).toString();
        options.paths = home.paths();
        options.baseURLs = service.baseURLs();
        options.tunnelSocketOverride = provider.socketPath();
        options.keychainService = keychain;
        options.pathSources = test::FixedPathSource::wifi();
        ShellOptions shellOptions;
        shellOptions.instanceFolder = home.runtimeDir() + QStringLiteral("/instance");
        shellOptions.trayAvailable = [this] { return tray; };
        shellOptions.exitApplication = [this] { ++exits; };
        shellOptions.reduceMotionRequested = true;
        shellOptions.firstFrameShown = [this] { ++firstFrames; };
        shell = std::make_unique<AppShell>(std::move(options), std::move(shellOptions));
        warnings.watch(*shell->engine());
    }
    ~ShellRig()
    {
        shell.reset();
        test::await(KeychainStore(keychain).deleteJWT());
    }
    bool start()
    {
        if (test::await(shell->start()) != AppShell::Claim::Primary || !QTest::qWaitForWindowExposed(main()))
            return false;
        ui::PreviewHost::keepGraphicsDriverLoaded();
        return true;
    }
    QQuickWindow *main() const { return shell->mainWindow(); }
    QString text(const char *objectName, const char *property = "text") const
    {
        auto *item = main()->findChild<QObject *>(QString::fromLatin1(objectName));
        return item ? item->property(property).toString() : QStringLiteral("<missing %1>").arg(objectName);
    }
    void click(QQuickWindow *window, QQuickItem *item) const
    {
        QVERIFY(item && item->isVisible());
        QTest::mouseClick(window, Qt::LeftButton, {}, item->mapToScene({item->width() / 2, item->height() / 2}).toPoint());
    }
    bool released() const
    {
        return !QFile::exists(shell->instance()->lockPath()) && !QFile::exists(shell->instance()->socketPath());
    }

    ui::QmlWarningCollector warnings;
    test::TestHome home{test::TestHome::PathsOnly};
    test::FakeService service;
    test::FakeProvider provider;
    QString keychain = test::uniqueName(QStringLiteral("kovra-shell"));
    bool tray = false;
    int exits = 0;
    std::atomic_int firstFrames = 0;
    std::unique_ptr<AppShell> shell;
};

void saveScreenshot(QQuickWindow *window, const QString &name)
{
    QString dir = qEnvironmentVariable("KOVRA_SCREENSHOTS");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    window->grabWindow().save(dir + u'/' + name + QStringLiteral(".png"));
}

} // namespace

class AppShellTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Start-up in each session state: one main window of the first size with the
    // content's least size, its menu, the warm-up running, no QML warning.
    void startup_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("signed out") << false;
        QTest::newRow("signed in") << true;
    }
    void startup()
    {
        QFETCH(bool, signedIn);
        ShellRig rig(signedIn ? std::optional(QStringLiteral("token-s")) : std::nullopt);
        QVERIFY(!rig.main());
        QVERIFY(rig.start());
        QQuickWindow *main = rig.main();
        const qreal menuBar = main->property("menuBarHeight").toReal();
        QVERIFY(menuBar > 0 && main->title() == QStringLiteral("Kovra S"));
        QCOMPARE(main->property("contentItem").value<QQuickItem *>()->size(), QSizeF(780, 520));
        QCOMPARE(QSizeF(main->minimumWidth(), main->minimumHeight() - menuBar), QSizeF(640, 460));
        QCOMPARE(rig.text("connectionMenu", "title") + rig.text("connectItem") + rig.text("refreshItem"),
                 QStringLiteral("СоединениеПодключитьсяОбновить подписку"));
        // Each item shows its key.
        QCOMPARE(rig.text("connectItemKey") + u' ' + rig.text("refreshItemKey"), QStringLiteral("Ctrl+K Ctrl+R"));
        QVERIFY(rig.shell->app()->isWarmupStarted());
        QTRY_VERIFY(rig.firstFrames == 1 && rig.shell->menuBar());
        // The sign-in window, or the home window with its subscription.
        QTRY_COMPARE(rig.text("homeSlot", "visible") + rig.text("loginSlot", "visible"),
                     QString::fromLatin1(signedIn ? "truefalse" : "falsetrue"));
        QTRY_COMPARE(rig.shell->app()->dependencies()->subscriptionStore()->hasLatest(), signedIn);
        saveScreenshot(main, signedIn ? QStringLiteral("main-signed-in") : QStringLiteral("main-signed-out"));
        QCOMPARE(rig.firstFrames.load(), 1);
        QVERIFY2(rig.warnings.warnings().isEmpty(), qPrintable(rig.warnings.warnings().join(u'\n')));
    }

    // The keys: Ctrl+K runs the connect item (its title follows the effective status),
    // Ctrl+R the refresh, Ctrl+, the one settings window, Ctrl+Q quits and lets go of
    // the lock (after a sign-out from the settings); the one main window is raised,
    // never built again.
    void keys()
    {
        ShellRig rig(QStringLiteral("token-k"));
        rig.provider.setStatus(3);
        test::saveConfiguration(rig.shell->app()->dependencies()->tunnelEnvironment()->preferences(),
                                kPacketTunnelBundleID);
        QVERIFY(rig.start());
        QQuickWindow *main = rig.main();
        // The home window attaches the tunnel when it comes on screen.
        QTRY_COMPARE(rig.text("connectItem"), QStringLiteral("Отключиться"));
        QTest::keyClick(main, Qt::Key_K, Qt::ControlModifier);
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("stop")));
        QTRY_COMPARE(rig.text("connectItem"), QStringLiteral("Подключиться"));

        // After the home window's own refresh, which a press would join.
        QTRY_VERIFY(rig.shell->app()->dependencies()->subscriptionStore()->hasLatest());
        LogCapture log;
        QTest::keyClick(main, Qt::Key_R, Qt::ControlModifier);
        QTRY_VERIFY(log.contains(QStringLiteral("refresh start")));

        QVERIFY(!rig.shell->settingsWindow());
        QTest::keyClick(main, Qt::Key_Comma, Qt::ControlModifier);
        QPointer<QQuickWindow> settings = rig.shell->settingsWindow();
        QVERIFY(settings && QTest::qWaitForWindowExposed(settings));
        QCOMPARE(std::tuple(settings->title(), settings->size(), settings->minimumSize(), settings->maximumSize()),
                 std::tuple(QStringLiteral("Настройки"), QSize(540, 620), QSize(540, 620), QSize(540, 620)));
        saveScreenshot(settings, QStringLiteral("settings-signed-in"));
        settings->close();
        QTRY_VERIFY(!settings->isVisible());
        rig.shell->openSettings();
        QCOMPARE(rig.shell->settingsWindow(), settings.data());
        QVERIFY(settings->isVisible());

        // Signing out from the settings swaps both windows' content (no QML warning).
        // The row is below the fold of the settings list.
        QVERIFY(QMetaObject::invokeMethod(settings->findChild<QQuickItem *>(QStringLiteral("logoutButton")), "clicked"));
        auto *confirm = settings->findChild<QObject *>(QStringLiteral("logoutConfirm"));
        QTRY_VERIFY(confirm && confirm->property("opened").toBool());
        rig.click(settings, confirm->findChild<QQuickItem *>(QStringLiteral("dialogAction")));
        QTRY_VERIFY(settings->findChild<QQuickItem *>(QStringLiteral("signedOutPlaceholder")));
        QTRY_COMPARE(rig.text("loginSlot", "visible"), QStringLiteral("true"));

        rig.shell->showMainWindow();
        QCOMPARE(rig.main(), main);
        QTest::keyClick(main, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(rig.exits, 1);
        QVERIFY(!main->isVisible() && !settings->isVisible() && !rig.shell->app()->isWarmupStarted() && rig.released());
        QVERIFY2(rig.warnings.warnings().isEmpty(), qPrintable(rig.warnings.warnings().join(u'\n')));
    }

    // Escape and Ctrl+W close the settings window (the same one opens again); with the
    // sign-out confirmation open, Escape closes only the confirmation.
    void settingsKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("confirming");
        QTest::newRow("escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << false;
        QTest::newRow("ctrl+w") << int(Qt::Key_W) << int(Qt::ControlModifier) << false;
        QTest::newRow("escape in the confirmation") << int(Qt::Key_Escape) << int(Qt::NoModifier) << true;
    }
    void settingsKeys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, confirming);
        ShellRig rig(QStringLiteral("token-w"));
        QVERIFY(rig.start());
        rig.shell->openSettings();
        QPointer<QQuickWindow> settings = rig.shell->settingsWindow();
        QVERIFY(settings && QTest::qWaitForWindowExposed(settings));
        // Keys reach the window that holds the focus.
        QTRY_VERIFY(QGuiApplication::focusWindow() == settings);
        QObject *confirm = nullptr;
        if (confirming) {
            QVERIFY(QMetaObject::invokeMethod(settings->findChild<QQuickItem *>(QStringLiteral("logoutButton")), "clicked"));
            confirm = settings->findChild<QObject *>(QStringLiteral("logoutConfirm"));
            QTRY_VERIFY(confirm && confirm->property("opened").toBool());
        }
        QTest::keyClick(settings, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        if (confirm) {
            QTRY_VERIFY(!confirm->property("visible").toBool());
            // Still signed in: the confirmation's action did not run.
            QVERIFY(settings->isVisible() && !settings->findChild<QQuickItem *>(QStringLiteral("signedOutPlaceholder")));
            return;
        }
        QTRY_VERIFY(!settings->isVisible());
        rig.shell->openSettings();
        QCOMPARE(rig.shell->settingsWindow(), settings.data());
        QVERIFY(settings->isVisible());
        QVERIFY2(rig.warnings.warnings().isEmpty(), qPrintable(rig.warnings.warnings().join(u'\n')));
    }

    // Closing the main window: without a tray the app quits; with one the window
    // only goes away (the warm-up with it) and the tray's "open" brings back the same
    // window; its settings link opens the settings window, its quit quits.
    void closeMainWindow_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("no tray") << false;
        QTest::newRow("tray") << true;
    }
    void closeMainWindow()
    {
        QFETCH(bool, tray);
        ShellRig rig;
        rig.tray = tray;
        QVERIFY(rig.start());
        QTRY_VERIFY(rig.shell->menuBar());
        QCOMPARE(rig.shell->menuBar()->isIconVisible(), tray);
        QQuickWindow *main = rig.main();
        main->close();
        QTRY_VERIFY(!main->isVisible() && !rig.shell->app()->isWarmupStarted());
        QCoreApplication::processEvents(); // the quit is queued after the close
        QCOMPARE(std::pair(rig.exits, rig.released()), std::pair(tray ? 0 : 1, !tray));
        if (!tray)
            return;
        // Hidden with the window, its content animates nothing meanwhile.
        QVERIFY(!main->contentItem()->isVisible());
        ui::MenuBarModel *menu = rig.shell->menuBar()->model();
        menu->openMainWindow();
        QCOMPARE(rig.main(), main);
        QVERIFY(main->isVisible() && main->contentItem()->isVisible() && rig.shell->app()->isWarmupStarted());
        menu->openSettings();
        QVERIFY(rig.shell->settingsWindow() && rig.shell->settingsWindow()->isVisible());
        menu->quit();
        QCOMPARE(rig.exits, 1);
        QVERIFY(!rig.shell->menuBar()->isIconVisible() && rig.released());
    }
};

QTEST_MAIN(AppShellTest)
#include "vtst_app_shell.moc"
