#include "account/AuthState.h"
#include "platform/Log.h"
#include "ui/main/LoginModel.h"
#include "ui/main/RootModel.h"
#include "ui/main/SettingsSceneModel.h"

#include "SessionFakes.h"

#include <QSignalSpy>
#include <QMetaType>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;

using Kind = AuthState::StatusKind;
Q_DECLARE_METATYPE(std::exception_ptr)

namespace {

const QString kTimeoutText = u"Время ожидания истекло. Попробуйте ещё раз."_s;
const QString kGenericText = u"Не удалось начать вход. Проверьте подключение."_s;

} // namespace

class RootModelsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // What the sign-in window, the root view and the settings window show for each
    // session: only `authenticated` counts as signed in.
    void followsSession_data()
    {
        QTest::addColumn<Kind>("status");
        QTest::addColumn<std::exception_ptr>("error");
        QTest::addColumn<LoginPanel::Value>("panel");
        QTest::addColumn<QString>("text");
        const auto timeout = std::make_exception_ptr(AuthStateError());
        const auto server = std::make_exception_ptr(std::runtime_error("500"));
        QTest::addRow("signed out") << Kind::anonymous << std::exception_ptr() << LoginPanel::SignIn << u""_s;
        QTest::addRow("poll ran out") << Kind::anonymous << timeout << LoginPanel::SignIn << kTimeoutText;
        QTest::addRow("start failed") << Kind::anonymous << server << LoginPanel::SignIn << kGenericText;
        QTest::addRow("waiting") << Kind::linking << std::exception_ptr() << LoginPanel::Waiting << u""_s;
        QTest::addRow("signed in") << Kind::authenticated << std::exception_ptr() << LoginPanel::None << u""_s;
    }
    void followsSession()
    {
        QFETCH(Kind, status);
        QFETCH(std::exception_ptr, error);
        QFETCH(LoginPanel::Value, panel);
        QFETCH(QString, text);
        SessionRig rig;
        RootModel root({.authState = &rig.auth});
        SettingsSceneModel scene(&rig.auth, nullptr);
        LoginModel &login = *root.login();
        rig.setStatus(status);
        rig.auth.setLastError(error);
        const bool signedIn = status == Kind::authenticated;
        QCOMPARE(std::tuple(login.panel(), login.errorText(), root.isSignedIn(), scene.isSignedIn(), root.home() != nullptr),
                 std::tuple(panel, text, signedIn, signedIn, signedIn));
    }

    // Made before the stored session is read, the root shows neither window until it
    // settles; signedIn then takes the session's value before `settled` is notified,
    // so that the first window appears without a cross-fade.
    void settles_data()
    {
        QTest::addColumn<Kind>("status");
        QTest::addColumn<QStringList>("notified");
        QTest::newRow("signed in") << Kind::authenticated << QStringList{u"signedIn"_s, u"settled"_s};
        QTest::newRow("signed out") << Kind::anonymous << QStringList{u"settled"_s};
    }
    void settles()
    {
        QFETCH(Kind, status);
        QFETCH(QStringList, notified);
        SessionRig rig;
        RootModel root({.authState = &rig.auth, .sessionSettled = false});
        rig.setStatus(status);
        QVERIFY(!root.isSettled() && !root.isSignedIn() && !root.home());
        QStringList order;
        connect(&root, &RootModel::signedInChanged, this, [&] { order << u"signedIn"_s; });
        connect(&root, &RootModel::settledChanged, this, [&] { order << u"settled"_s; });
        root.settle();
        root.settle();
        const bool signedIn = status == Kind::authenticated;
        QCOMPARE(std::tuple(root.isSettled(), root.isSignedIn(), root.home() != nullptr, order),
                 std::tuple(true, signedIn, signedIn, notified));
    }

    // The Telegram button logs, starts the sign-in and opens its link; reopen opens
    // the same link each time. Cancel stops the poll, drops both links and keeps the
    // error text; the status comes back from the token store, so a signed-in account
    // that was linking Telegram stays signed in.
    void signInReopenCancel_data()
    {
        QTest::addColumn<bool>("stored");
        QTest::newRow("signed out") << false;
        QTest::newRow("linking a signed-in account") << true;
    }
    void signInReopenCancel()
    {
        QFETCH(bool, stored);
        SessionRig rig(stored ? std::optional(u"tok-stored-51c2"_s) : std::nullopt);
        RootModel root({.authState = &rig.auth});
        LoginModel &login = *root.login();
        rig.scriptSignIn(200, 500); // the poll fails without ending the sign-in
        LogCapture logs;
        login.signIn();
        QTRY_COMPARE(rig.opener->askedTexts(), QStringList{kDeepLink});
        QCOMPARE(logs.texts(u"MacLogin"_s), QStringList{u"login button tapped"_s});
        QCOMPARE(login.panel(), LoginPanel::Waiting);
        QVERIFY(!root.isSignedIn());
        QTRY_COMPARE(login.errorText(), kGenericText);

        login.reopen();
        login.reopen();
        QTRY_COMPARE(rig.opener->askedTexts(), QStringList(3, kDeepLink));

        QSignalSpy errorChanges(&rig.auth, &AuthState::lastErrorChanged);
        login.cancel();
        QVERIFY(!rig.auth.hasPollingTask());
        QVERIFY(!rig.auth.pendingDeepLink() && !rig.auth.pendingHTTPSLink());
        QTRY_COMPARE(rig.auth.statusKind(), stored ? Kind::authenticated : Kind::anonymous);
        QCOMPARE(std::tuple(login.panel(), root.isSignedIn(), login.errorText(), errorChanges.count(), rig.tokens->token.has_value()),
                 std::tuple(stored ? LoginPanel::None : LoginPanel::SignIn, stored, kGenericText, 0, stored));
    }

    // A start the service refuses leaves the error shown and opens nothing.
    void failedStart()
    {
        SessionRig rig;
        LoginModel login(&rig.auth);
        rig.scriptSignIn(500);
        LogCapture logs;
        login.signIn();
        QTRY_VERIFY(logs.contains(u"launchTelegramIfReady: no pending link (begin failed?)"_s));
        QCOMPARE(std::tuple(login.panel(), login.errorText(), rig.opener->asked.size()), std::tuple(LoginPanel::SignIn, kGenericText, 0));
    }

    // Each sign-in shows the home window with both sheets closed; the home window's
    // settings request reaches the app.
    void homeAtEachSignIn()
    {
        SessionRig rig;
        RootModel root({.authState = &rig.auth});
        QSignalSpy settings(&root, &RootModel::settingsRequested);
        for (int signIn = 0; signIn < 2; ++signIn) {
            rig.setStatus(Kind::authenticated);
            HomeModel *home = root.home();
            QVERIFY(home && !home->showDiagnostics() && !home->showConnectionPicker());
            home->setShowDiagnostics(true);
            home->setShowConnectionPicker(true);
            home->openSettings();
            rig.setStatus(Kind::anonymous);
        }
        QCOMPARE(settings.count(), 2);
    }

    // The alert follows the new-account flag; any dismissal clears it, notifying once;
    // a write of true is ignored.
    void trialAlert()
    {
        SessionRig rig;
        RootModel root({.authState = &rig.auth});
        QSignalSpy flag(&rig.auth, &AuthState::isNewAccountChanged);
        QVERIFY(root.setProperty("showsTrialAlert", true));
        QVERIFY(!root.showsTrialAlert() && !rig.auth.isNewAccount());
        rig.auth.setIsNewAccount(true);
        QVERIFY(root.showsTrialAlert());
        root.dismissTrialAlert();
        root.setShowsTrialAlert(false);
        QVERIFY(!root.showsTrialAlert() && !rig.auth.isNewAccount());
        QCOMPARE(flag.count(), 2);
    }
};

QTEST_GUILESS_MAIN(RootModelsTest)
#include "itst_root_models.moc"
