// The whole app, built as the executable builds it (same start-up, same QML, real
// windows), against kovra-dev-service and kovra-dev-provider running as separate
// processes: sign in, connect, look at the picker, switch the VPN from the command
// line, disconnect, pay for a plan.

#include "account/KeychainStore.h"
#include "app/ExternalTargets.h"
#include "app/shell/AppShell.h"
#include "dev-service/DevCatalog.h"
#include "platform/Log.h"
#include "tunnel/VPNToggleIntent.h"
#include "ui/design/QmlWarnings.h"
#include "ui/design/SheetHost.h"
#include "ui/design/Texts.h"
#include "ui/main/ConnectionPickerSheet.h"
#include "ui/main/HomeModel.h"
#include "ui/main/LoginModel.h"
#include "ui/main/RootModel.h"
#include "ui/main/PickerListModel.h"

#include <QApplication>
#include <QJsonArray>

#include "AppDriving.h"
#include "support/Await.h"
#include "support/FixedPathSource.h"
#include "support/RecordingUrlOpener.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

namespace {

constexpr int kStepMs = 20'000;

// Clicks the middle of the item with that object name, once it shows and the home
// window's pages have stopped moving.
bool pressItem(QQuickWindow *window, const QString &objectName)
{
    const bool shown = QTest::qWaitFor(
        [&] {
            const QQuickItem *stack = itemNamed(window, QStringLiteral("homeStack"));
            return itemNamed(window, objectName) && !(stack && stack->property("busy").toBool());
        },
        kStepMs);
    return click(window, shown ? itemNamed(window, objectName) : nullptr, objectName);
}

// The shown window with that title, other than the main one.
QQuickWindow *shownWindow(const QString &title)
{
    for (QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->isVisible() && window->title() == title)
            return qobject_cast<QQuickWindow *>(window);
    }
    return nullptr;
}

// The text of the visible item with that object name below the one named `in`.
QString textOf(QQuickWindow *window, const QString &in, const QString &objectName)
{
    QQuickItem *item = itemNamed(itemNamed(window, in), objectName);
    return item ? item->property("text").toString() : QString();
}

void saveScreenshot(QQuickWindow *window, const QString &name)
{
    QVERIFY(test::saveScreenshot(window, QStringLiteral("smoke-"), name));
}

// What the picker lists: the ids of its route and server rows.
QSet<QString> listedIDs(const ui::PickerListModel &items)
{
    QSet<QString> ids;
    for (int row = 0; row < items.rowCount(); ++row) {
        const QString key = items.index(row).data(ui::PickerListModel::KeyRole).toString();
        for (const QString &prefix : {QStringLiteral("conn:"), QStringLiteral("region:")}) {
            if (key.startsWith(prefix))
                ids << key.mid(prefix.size());
        }
    }
    return ids;
}

} // namespace

class AppSmokeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void signInConnectPickDisconnect()
    {
        LogCapture printed;
        test::TestHome home{test::TestHome::PathsOnly};
        const QString targetsFile = home.path() + QStringLiteral("/targets.json");
        const QString socket = home.runtimeDir() + QStringLiteral("/kovra/packet-tunnel.sock");
        const QString keychain = test::uniqueName(QStringLiteral("kovra-smoke"));

        // The sign-in confirms at its second poll, a payment a second after its invoice.
        Tool service(QStringLiteral("dev-service/kovra-dev-service"),
                     {QStringLiteral("--confirm-after"), QStringLiteral("1"), QStringLiteral("--pay-after"), QStringLiteral("1"),
                      QStringLiteral("--write-targets"), targetsFile},
                     home);
        Tool provider(QStringLiteral("dev-provider/kovra-dev-provider"),
                      {QStringLiteral("--socket"), socket, QStringLiteral("--connect-delay"), QStringLiteral("300"),
                       QStringLiteral("--command-poll"), QStringLiteral("100")},
                      home);
        QTRY_VERIFY_WITH_TIMEOUT(service.output().contains(QStringLiteral("base-urls: ")) || !service.running(), 10'000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket) || !provider.running(), 10'000);
        QVERIFY2(service.running() && provider.running(), qPrintable(service.output() + provider.output()));
        const QString urls = service.output().section(QStringLiteral("base-urls: "), 1).section(u'\n', 0, 0);

        AppOptions options;
        options.paths = home.paths();
        options.baseURLs = APIClient::baseURLsFor(urls.toUtf8());
        options.tunnelSocketOverride = socket;
        options.keychainService = keychain;
        options.targets = ExternalTargets::load(targetsFile);
        // No browser opens the sign-in link, and the machine's own network plays no part.
        auto opener = std::make_shared<test::RecordingUrlOpener>();
        options.urlOpener = opener;
        options.pathSources = test::FixedPathSource::wifi();
        options.auth.pollInterval = 200ms;
        ShellOptions shellOptions;
        int exits = 0;
        shellOptions.exitApplication = [&exits] { ++exits; };
        shellOptions.reduceMotionRequested = true;

        QApplication::setApplicationName(QStringLiteral("kovra"));
        QApplication::setQuitOnLastWindowClosed(false);
        ui::QmlWarningCollector warnings;
        auto shell = std::make_unique<AppShell>(std::move(options), std::move(shellOptions));
        warnings.watch(*shell->engine());
        const auto cleanup = qScopeGuard([&] {
            shell.reset();
            test::await(KeychainStore(keychain).deleteJWT());
        });
        QCOMPARE(test::await(shell->start()), AppShell::Claim::Primary);
        QQuickWindow *main = shell->mainWindow();
        QVERIFY(main && QTest::qWaitForWindowExposed(main));
        keepGLDriverLoaded();
        auto *root = modelOf<ui::RootModel>(main->contentItem(), QStringLiteral("rootView"));
        QVERIFY(root);

        // Signed out: the sign-in window; its button starts the Telegram sign-in.
        QVERIFY(!root->isSignedIn());
        QCOMPARE(root->login()->panel(), ui::LoginPanel::SignIn);
        QVERIFY(press(main, ui::LoginModel::signInTitle()));
        QTRY_VERIFY_WITH_TIMEOUT(root->isSignedIn(), kStepMs);
        QCOMPARE(opener->asked.size(), 1);
        const std::optional<QString> token = test::await(KeychainStore(keychain).currentJWT());
        QVERIFY(token && !token->isEmpty());
        if (root->showsTrialAlert()) {
            // The alert's view comes up after its model says it shows.
            QTRY_VERIFY(buttonNamed(main->contentItem(), ui::RootModel::trialButtonTitle()));
            QVERIFY(press(main, ui::RootModel::trialButtonTitle()));
        }
        QTRY_VERIFY(!root->showsTrialAlert());

        // The home window: connect.
        ui::HomeModel *homeModel = root->home();
        QVERIFY(homeModel);
        QTRY_COMPARE_WITH_TIMEOUT(homeModel->statusText(), QStringLiteral("Выключено"), kStepMs);
        QTRY_VERIFY(homeModel->canInteract());
        QVERIFY(press(main, homeModel->statusText()));
        QTRY_COMPARE_WITH_TIMEOUT(homeModel->statusText(), QStringLiteral("Защищено"), kStepMs);
        saveScreenshot(main, QStringLiteral("home-connected"));

        // The picker lists the service's catalogue.
        QVERIFY(press(main, homeModel->connectionAccessibilityLabel()));
        QTRY_VERIFY(homeModel->connectionPickerSheet() && homeModel->connectionPickerSheet()->isOpen());
        QQuickWindow *picker = homeModel->connectionPickerSheet()->window();
        QVERIFY(QTest::qWaitForWindowExposed(picker));
        auto *sheet = modelOf<ui::ConnectionPickerSheet>(homeModel->connectionPickerSheet()->content(),
                                                         QStringLiteral("connectionPicker"));
        QVERIFY(sheet);
        QSet<QString> catalogue;
        for (const QJsonValue &c : devservice::catalog::connectionsJson([](const auto &r) { return r.status; }))
            catalogue << c[QLatin1String("id")].toString();
        QTRY_COMPARE_WITH_TIMEOUT(listedIDs(*sheet->items()), catalogue, kStepMs);
        saveScreenshot(picker, QStringLiteral("picker"));
        QVERIFY(press(picker, ui::Texts::close()));
        QTRY_VERIFY(!homeModel->showConnectionPicker());

        // The VPN switch of the command line, which the provider carries out: off, then on.
        VPNToggleIntent{.value = false}.perform(home.paths());
        QTRY_COMPARE_WITH_TIMEOUT(homeModel->statusText(), QStringLiteral("Выключено"), kStepMs);
        VPNToggleIntent{.value = true}.perform(home.paths());
        QTRY_COMPARE_WITH_TIMEOUT(homeModel->statusText(), QStringLiteral("Защищено"), kStepMs);

        // Disconnect.
        QVERIFY(press(main, homeModel->statusText()));
        QTRY_COMPARE_WITH_TIMEOUT(homeModel->statusText(), QStringLiteral("Выключено"), kStepMs);

        // A new account has the trial the alert announced; a plan is paid for from the
        // subscription's page: the payment sheet waits for the payment and confirms it.
        QCOMPARE(homeModel->subscriptionCard()->trafficText(), QStringLiteral("0.0 / 0.2 ГБ"));
        QVERIFY(pressItem(main, QStringLiteral("stripHeader")));
        QVERIFY(pressItem(main, QStringLiteral("buyButton")));
        // The best value is chosen already.
        QVERIFY(pressItem(main, QStringLiteral("continueButton")));
        QQuickWindow *payment = nullptr;
        QTRY_VERIFY((payment = shownWindow(QStringLiteral("Оплата"))));
        QVERIFY(QTest::qWaitForWindowExposed(payment));
        QVERIFY(press(payment, QStringLiteral("Оплатить")));
        QTRY_COMPARE_WITH_TIMEOUT(textOf(payment, QStringLiteral("waitingView"), QStringLiteral("title")), QStringLiteral("Подписка активна"), kStepMs);
        QCOMPARE(opener->asked.size(), 2);
        saveScreenshot(payment, QStringLiteral("payment-confirmed"));
        QVERIFY(pressItem(payment, QStringLiteral("action0")));
        QTRY_VERIFY(!payment->isVisible());

        shell->quit();
        QCOMPARE(exits, 1);
        QVERIFY2(warnings.warnings().isEmpty(), qPrintable(warnings.warnings().join(u'\n')));
        service.stop();
        provider.stop();
        for (const QString &out : {printed.texts().join(u'\n'), service.output(), provider.output()})
            QVERIFY2(!out.contains(*token), "the session token was printed");
    }
};

QTEST_MAIN(AppSmokeTest)
#include "itst_app_smoke.moc"
