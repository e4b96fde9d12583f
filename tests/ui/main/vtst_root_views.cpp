#include "ui/account/AccountScreens.h"
#include "ui/design/Brand.h"
#include "ui/main/LoginModel.h"
#include "ui/main/RootModel.h"
#include "ui/main/SettingsSceneModel.h"
#include "ui/main/MainModule.h"

#include "HomeFakes.h"
#include "SessionFakes.h"
#include "support/view/ViewHarness.h"

#include <QQuickWindow>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using namespace kovra::test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using Kind = AuthState::StatusKind;
Q_DECLARE_METATYPE(std::exception_ptr)

namespace {

QRectF sceneRect(QQuickItem *item)
{
    return item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
}

} // namespace

class RootViewsTest : public ViewTestCase {
    Q_OBJECT

    std::unique_ptr<HomeRig> m_home;
    std::unique_ptr<SessionRig> m_session;
    std::unique_ptr<RootModel> m_root;
    // The models of the screens shown alone; they outlive the view.
    std::unique_ptr<AccountScreens> m_screens;
    std::unique_ptr<QObject> m_model;

    QQuickItem *showRoot(Kind status)
    {
        m_home = std::make_unique<HomeRig>();
        m_session = std::make_unique<SessionRig>();
        m_session->setStatus(status);
        HomeRig &h = *m_home;
        m_root = std::make_unique<RootModel>(RootServices{
            &m_session->auth, &h.coordinator, &h.engine, &h.tunnel,
            {&h.subscriptions, &h.me, &h.connections, &h.regions, &h.entries}, nullptr, h.withRig({})});
        return view().show(u"Kovra.Main/RootView"_s,
                           {{"model", QVariant::fromValue(m_root.get())}, {"width", 900}, {"height", 560}}, {.margin = 0});
    }
    // Items of popups are found from the window's content.
    QQuickItem *inWindow(const QString &name) { return ViewHarness::findIn(view().window()->contentItem(), name); }

private Q_SLOTS:
    void initTestCase() { registerMainModule(); }
    void cleanup()
    {
        ViewTestCase::cleanup();
        m_root.reset();
        m_model.reset();
        m_screens.reset();
        if (m_home)
            m_home->clock->advance(10s);
        m_home.reset();
        m_session.reset();
    }

    // Each panel (one also dark): the header's 72 by 72 tile, the panel at most 360
    // wide and centred, the error line in the danger colour only with an error, wrapped
    // inside the panel however long (the keyring's text runs to several lines).
    void loginScreens_data()
    {
        QTest::addColumn<Kind>("status");
        QTest::addColumn<std::exception_ptr>("error");
        QTest::addColumn<QString>("text"); // of the error line
        const auto timeout = std::make_exception_ptr(AuthStateError());
        const auto noKeyring = std::make_exception_ptr(
            KeychainError(u"no session bus: Could not connect"_s, KeychainError::Kind::noSecretService));
        const QString timeoutText = u"Время ожидания истекло. Попробуйте ещё раз."_s;
        const QString noKeyringText = u"Не найдено хранилище паролей. Для входа нужно хранилище со службой Secret "
                                      u"Service: GNOME Keyring, KWallet или KeePassXC. Запустите его и войдите снова."_s;
        QTest::newRow("signed out") << Kind::anonymous << std::exception_ptr() << QString();
        QTest::newRow("timed out") << Kind::anonymous << timeout << timeoutText;
        QTest::newRow("timed out, dark") << Kind::anonymous << timeout << timeoutText;
        QTest::newRow("no keyring") << Kind::anonymous << noKeyring << noKeyringText;
        QTest::newRow("no keyring, dark") << Kind::anonymous << noKeyring << noKeyringText;
        QTest::newRow("waiting") << Kind::linking << std::exception_ptr() << QString();
    }
    void loginScreens()
    {
        QFETCH(Kind, status);
        QFETCH(std::exception_ptr, error);
        QFETCH(QString, text);
        m_session = std::make_unique<SessionRig>();
        m_session->setStatus(status);
        m_session->auth.setLastError(error);
        m_model = std::make_unique<LoginModel>(&m_session->auth);
        QVERIFY(view().show(u"Kovra.Main/LoginView"_s,
                            {{"model", QVariant::fromValue(m_model.get())}, {"width", 780}, {"height", 520}}, {.margin = 0}));
        const QString panel = status == Kind::linking ? u"waitingPanel"_s : u"signInPanel"_s;
        QVERIFY(view().isShown(panel));
        QCOMPARE(view().isShown(u"signInPanel"_s), status != Kind::linking);
        const QRectF box = sceneRect(view().find(panel));
        QVERIFY(box.width() <= 360 && box.width() > 300);
        QCOMPARE(box.center().x(), 390.0);
        QCOMPARE(sceneRect(view().find(u"iconTile"_s)).size(), QSizeF(72, 72));
        QCOMPARE(view().real(u"tileFill"_s, u"radius"_s), 20.0);
        QCOMPARE(view().isShown(u"loginError"_s), !text.isEmpty());
        if (!text.isEmpty()) {
            QCOMPARE(view().value(u"loginError"_s, u"text"_s).toString(), text);
            QCOMPARE(view().argb(u"loginError"_s), argb(view().brand().danger()));
            QQuickItem *line = view().find(u"loginError"_s);
            QVERIFY(box.contains(sceneRect(line)));
            QVERIFY(line->property("contentWidth").toReal() <= line->width());
            QVERIFY(line->property("contentHeight").toReal() <= line->height());
            QVERIFY(!line->property("truncated").toBool());
        }
        view().saveScreenshot(u"login"_s);
    }

    // Waiting for Telegram shows the sign-in window, whose buttons drive the session
    // (cancel, then a new sign-in that opens its link); signing in cross-fades to the
    // home window (at once with reduce motion), whose controls draw accents in the tint.
    void rootSwitch_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("animated") << false;
        QTest::newRow("reduce motion") << true;
    }
    void rootSwitch()
    {
        QFETCH(bool, reduceMotion);
        view().appearance().setReduceMotion(reduceMotion);
        QVERIFY(showRoot(Kind::linking));
        QVERIFY(view().isShown(u"waitingPanel"_s));
        QVERIFY(!view().isShown(u"homeView"_s));
        clickCentre(view().window(), view().find(u"cancelButton"_s));
        QTRY_VERIFY(view().isShown(u"signInPanel"_s));
        m_session->scriptSignIn(200);
        clickCentre(view().window(), view().find(u"telegramButton"_s));
        QTRY_VERIFY(view().isShown(u"waitingPanel"_s));
        QTRY_COMPARE(m_session->opener->asked.size(), 1);

        m_session->setStatus(Kind::authenticated);
        QVERIFY(view().find(u"homeView"_s));
        // Animated, both views stand while the home window fades in.
        QCOMPARE(view().real(u"homeSlot"_s, u"opacity"_s) < 1.0, !reduceMotion);
        QCOMPARE(view().find(u"loginView"_s) != nullptr, !reduceMotion);
        QTRY_VERIFY(!view().find(u"loginView"_s));
        QCOMPARE(view().real(u"homeSlot"_s, u"opacity"_s), 1.0);
        QCOMPARE(view().argb(u"homeStack"_s, u"palette.highlight"_s), argb(view().brand().tint()));
        QVERIFY(view().waitForFrame());
        view().saveScreenshot(u"home"_s);

        m_session->setStatus(Kind::anonymous);
        QTRY_VERIFY(!view().find(u"homeView"_s));
        QVERIFY(view().isShown(u"signInPanel"_s));
    }

    // A new account: the alert over the home window, closed by its
    // button or by Escape; it stays closed on the next status change.
    void trialAlert_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("button") << false;
        QTest::newRow("escape") << true;
    }
    void trialAlert()
    {
        QFETCH(bool, byEscape);
        view().appearance().setReduceMotion(true);
        QVERIFY(showRoot(Kind::anonymous));
        m_session->auth.setIsNewAccount(true);
        m_session->setStatus(Kind::authenticated);
        QTRY_VERIFY(inWindow(u"alertButton"_s) && inWindow(u"alertButton"_s)->isVisible());
        QCOMPARE(inWindow(u"alertMessage"_s)->property("text").toString(), u"Активирован пробный доступ: 200 МБ, 7 дней."_s);
        QVERIFY(view().waitForFrame());
        view().saveScreenshot(u"alert"_s);

        if (byEscape)
            QTest::keyClick(view().window(), Qt::Key_Escape);
        else
            clickCentre(view().window(), inWindow(u"alertButton"_s));
        QTRY_VERIFY(!m_session->auth.isNewAccount());
        QTRY_VERIFY(!inWindow(u"alertButton"_s) || !inWindow(u"alertButton"_s)->isVisible());
        m_session->setStatus(Kind::anonymous);
        m_session->setStatus(Kind::authenticated);
        QVERIFY(view().waitForFrame());
        QVERIFY(!inWindow(u"alertButton"_s) || !inWindow(u"alertButton"_s)->isVisible());
    }

    // The settings window: the placeholder while
    // signed out, 540 by 620; a sign-in puts a settings screen in the same window, a
    // sign-out takes it away.
    void settingsScene()
    {
        m_session = std::make_unique<SessionRig>();
        SessionRig &rig = *m_session;
        m_screens = std::make_unique<AccountScreens>(AccountServices{.authState = &rig.auth});
        m_model = std::make_unique<SettingsSceneModel>(&rig.auth, m_screens.get());
        QQuickItem *scene = view().show(u"Kovra.Main/SettingsScene"_s, {{"model", QVariant::fromValue(m_model.get())}},
                                        {.margin = 0});
        QVERIFY(scene);
        QCOMPARE(sceneRect(view().find(u"settingsFrame"_s)).size(), QSizeF(540, 620));
        QVERIFY(view().isShown(u"placeholderTitle"_s));
        QCOMPARE(view().value(u"placeholderHint"_s, u"text"_s).toString(), u"Войдите в главном окне, чтобы открыть настройки."_s);
        view().saveScreenshot(u"signed-out"_s);

        rig.setStatus(Kind::authenticated);
        QTRY_VERIFY(view().isShown(u"accountSection"_s));
        QCOMPARE(view().find(u"settingsScene"_s), scene);
        QCOMPARE(view().real(u"settingsStack"_s, u"depth"_s), 1.0);
        QCOMPARE(view().value(u"settingsTitle"_s, u"text"_s).toString(), u"Настройки"_s);
        QVERIFY(view().waitForFrame());
        view().saveScreenshot(u"signed-in"_s);

        rig.setStatus(Kind::anonymous);
        QTRY_VERIFY(view().isShown(u"placeholderTitle"_s));
        QVERIFY(!view().find(u"accountSection"_s));
    }
};

QTEST_MAIN(RootViewsTest)
#include "vtst_root_views.moc"
