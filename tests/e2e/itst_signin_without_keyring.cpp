// The whole app (the executable's start-up, QML and windows) signing in against
// kovra-dev-service where no keyring answers: on a session bus of its own without a
// Secret Service, and with no session bus at all. Each runs in a process of its own
// (this test's executable again), since a process keeps the first session bus it finds.

#include "app/shell/AppShell.h"
#include "platform/Log.h"
#include "ui/design/QmlWarnings.h"
#include "ui/main/LoginModel.h"
#include "ui/main/RootModel.h"

#include <QApplication>
#include <QRegularExpression>

#include "AppDriving.h"
#include "support/Await.h"
#include "support/FixedPathSource.h"
#include "support/RecordingUrlOpener.h"
#include "support/SessionBus.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// Set (to the case's name) in the process that runs the app.
constexpr char kAppCase[] = "KOVRA_TEST_APP_CASE";
constexpr int kStepMs = 20'000;

const QString kNoKeyringText = u"Не найдено хранилище паролей. Для входа нужно хранилище со службой Secret Service: "
                               u"GNOME Keyring, KWallet или KeePassXC. Запустите его и войдите снова."_s;

// The app's side: starts it as the executable does (options from the environment; only
// the link opener and the network path are the test's), presses the sign-in button and
// prints what follows, one fact a line: "panel: <n>" before the press, "shown: <the
// error line's text>", "opened: <links asked>", "signed in: <0|1>", then "log: <category>:
// <text>" for each line logged. Exit code 0 once it has printed them, else 1 with why.
int runApp()
{
    const auto fail = [](const char *why) {
        std::printf("failed: %s\n", why);
        return 1;
    };
    LogCapture logs;
    AppOptions options = AppOptions::fromEnvironment();
    auto opener = std::make_shared<RecordingUrlOpener>();
    options.urlOpener = opener;
    options.pathSources = FixedPathSource::wifi();
    options.auth.pollInterval = 200ms;
    ShellOptions shellOptions;
    shellOptions.exitApplication = [] {};
    shellOptions.reduceMotionRequested = true;
    QApplication::setApplicationName(u"kovra"_s);
    QApplication::setQuitOnLastWindowClosed(false);
    ui::QmlWarningCollector warnings;
    auto shell = std::make_unique<AppShell>(std::move(options), std::move(shellOptions));
    warnings.watch(*shell->engine());
    if (await(shell->start()) != AppShell::Claim::Primary)
        return fail("not the one app");
    QQuickWindow *main = shell->mainWindow();
    if (!main || !QTest::qWaitForWindowExposed(main))
        return fail("no main window");
    keepGLDriverLoaded();
    auto *root = modelOf<ui::RootModel>(main->contentItem(), u"rootView"_s);
    if (!root)
        return fail("no root view");
    ui::LoginModel *login = root->login();
    std::printf("panel: %d\n", int(login->panel()));
    if (!press(main, ui::LoginModel::signInTitle()))
        return fail("no sign-in button");
    if (!QTest::qWaitFor([&] { return login->showsError() && !root->isSignedIn() && itemNamed(main, u"loginError"_s); },
                         kStepMs))
        return fail("no error shown");
    QTest::qWait(100); // a frame with the text
    saveScreenshot(main, u"signin-without-keyring-"_s, qEnvironmentVariable(kAppCase));
    std::printf("shown: %s\nopened: %d\nsigned in: %d\n",
                qPrintable(itemNamed(main, u"loginError"_s)->property("text").toString()), int(opener->asked.size()),
                int(root->isSignedIn()));
    shell->quit();
    shell.reset();
    for (const LogLine &line : logs.lines())
        std::printf("log: %s: %s\n", qPrintable(line.category), qPrintable(line.text));
    for (const QString &warning : warnings.warnings())
        std::printf("qml warning: %s\n", qPrintable(warning));
    std::fflush(stdout);
    return warnings.warnings().isEmpty() ? 0 : 1;
}

// The lines of `output` that start with `prefix`, without it.
QStringList linesAfter(const QString &output, const QString &prefix)
{
    QStringList found;
    for (const QString &line : output.split(u'\n')) {
        if (line.startsWith(prefix))
            found << line.mid(prefix.size());
    }
    return found;
}

} // namespace

class SignInWithoutKeyringTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The sign-in completes at the service, the token cannot be kept: the sign-in screen
    // says that a password store is needed, and the log gives the keyring's reason. With
    // no bus at all, the start says so once, and the app still starts signed out.
    void signInSaysWhatIsMissing_data()
    {
        QTest::addColumn<bool>("privateBus"); // else no session bus
        QTest::addColumn<QString>("why");
        QTest::newRow("a bus without a Secret Service")
            << true << u"The name org.freedesktop.secrets was not provided by any .service files"_s;
        QTest::newRow("no session bus") << false << u"no session bus: Could not connect: No such file or directory"_s;
    }
    void signInSaysWhatIsMissing()
    {
        QFETCH(bool, privateBus);
        QFETCH(QString, why);
        TestHome home{TestHome::PathsOnly};
        const QString targets = home.path() + u"/targets.json"_s;
        Tool service(u"dev-service/kovra-dev-service"_s, {u"--confirm-after"_s, u"0"_s, u"--write-targets"_s, targets}, home);
        QTRY_VERIFY_WITH_TIMEOUT(service.output().contains(u"base-urls: "_s) || !service.running(), 10'000);
        QVERIFY2(service.running(), qPrintable(service.output()));
        std::optional<PrivateBus> bus;
        if (privateBus) {
            bus.emplace();
            QVERIFY2(bus->isListening(), qPrintable(bus->output()));
        }

        QProcessEnvironment environment =
            onBus(QProcessEnvironment::systemEnvironment(), bus ? bus->address() : noBusAddress(home.path()));
        const QString keychain = uniqueName(u"kovra-nokeyring"_s);
        for (const auto &[name, value] :
             {std::pair(kAppCase, QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-')),
              {"XDG_CONFIG_HOME", home.configHome()}, {"XDG_DATA_HOME", home.dataHome()},
              {"XDG_RUNTIME_DIR", home.runtimeDir()}, {"KOVRA_KEYCHAIN_SERVICE", keychain},
              {"KOVRA_TARGETS_FILE", targets}, {"QT_QPA_PLATFORM", u"xcb"_s},
              {"KOVRA_API_BASE_URLS", service.output().section(u"base-urls: "_s, 1).section(u'\n', 0, 0)}})
            environment.insert(QString::fromLatin1(name), value);
        environment.remove(u"KOVRA_TUNNEL_SOCKET"_s);
        QProcess app;
        app.setProcessEnvironment(environment);
        app.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(app.waitForFinished(60'000));
        const QString output = QString::fromUtf8(app.readAllStandardOutput());
        const QString all = output + QString::fromUtf8(app.readAllStandardError());
        QVERIFY2(app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0, qPrintable(all));

        // Signed out at the start; the sign-in started (its link opened) and ended unsaved.
        QCOMPARE(linesAfter(output, u"panel: "_s), QStringList{QString::number(ui::LoginPanel::SignIn)});
        QCOMPARE(linesAfter(output, u"opened: "_s), QStringList{u"1"_s});
        QCOMPARE(linesAfter(output, u"signed in: "_s), QStringList{u"0"_s});
        QCOMPARE(linesAfter(output, u"shown: "_s), QStringList{kNoKeyringText});
        const QStringList log = linesAfter(output, u"log: "_s);
        QCOMPARE(log.filter(u"kovra.AuthState: saving"_s),
                 QStringList{u"kovra.AuthState: saving the session token failed: no Secret Service (%1)"_s.arg(why)});
        QVERIFY2(log.contains(u"kovra.KeychainStore: reading the session token failed (keychain service %1): no Secret "
                              u"Service (%2)"_s.arg(keychain, why)),
                 qPrintable(log.join(u'\n')));
        const QStringList noBus = log.filter(u"kovra.App: no D-Bus session bus"_s);
        QCOMPARE(noBus, privateBus ? QStringList()
                                   : QStringList{u"kovra.App: no D-Bus session bus (Could not connect: No such file or "
                                                 u"directory): the keyring (Secret Service) cannot be reached, so a "
                                                 u"sign-in cannot be saved"_s});
        // A session token of the service is 43 characters of base64url; none was printed.
        QVERIFY2(!all.contains(QRegularExpression(u"[A-Za-z0-9_-]{43}"_s)), qPrintable(all));
        if (bus)
            QVERIFY(!bus->hasOwner(u"org.freedesktop.secrets"_s)); // nothing started one
    }
};

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(kAppCase)) {
        QApplication application(argc, argv);
        return runApp();
    }
    QCoreApplication application(argc, argv);
    SignInWithoutKeyringTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "itst_signin_without_keyring.moc"
