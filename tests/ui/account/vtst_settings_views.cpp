#include "ui/account/AccountModule.h"
#include "ui/account/SettingsModel.h"
#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include "SettingsFakes.h"

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using test::argb;
using test::accessibleText;
using test::centreOf;

namespace {

} // namespace

class SettingsViewsTest : public test::ViewTestCase {
    Q_OBJECT

    QQuickItem *showSettings(SettingsModel *model)
    {
        return view().show(u"Kovra.Account/SettingsView"_s,
                           {{"model", QVariant::fromValue(model)}, {"width", 460}, {"height", 1130}});
    }
    void click(QQuickItem *item) { test::clickCentre(view().window(), item); }

private Q_SLOTS:
    void initTestCase() { registerAccountModule(); }

    // The six sections in order. A running flow's spinner, then its error in red; the
    // Apple button that cannot work here with its note on hover; about values in the
    // monospaced font, no privacy row without a usable address. A stored time the picker
    // does not offer shown as its extra item until another is chosen; clicks change the
    // preferences. (Which rows show what: the screen's model tests.)
    void settingsScreen_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::newRow("unlinked") << false;
        QTest::newRow("linked") << true;
    }
    void settingsScreen()
    {
        QFETCH(bool, linked);
        test::SettingsRig rig;
        if (linked)
            rig.loadMe(R"({"has_telegram":true,"has_apple":true,"apple_email":"anna@example.com"})");
        AppleAuthService systemApple(&rig.api.client, rig.tokens); // this system's: no Apple sign-in
        AccountServices services = rig.services({u"kovra_help"_s, QUrl(u"https://t.me/kovra_help"_s),
                                                 linked ? QUrl(u"https://kovra.test/privacy"_s)
                                                        : QUrl(u"https://kovra test"_s, QUrl::StrictMode)});
        if (!linked)
            services.appleService = &systemApple;
        rig.service.script(test::FakeService::anyHost, "POST", u"/auth/google/link"_s, {test::FakeReply::json(409)});
        rig.service.script(test::FakeService::anyHost, "POST", u"/oauth/token"_s,
                           {test::FakeReply::json(200, R"({"id_token":"google-id-token"})")});
        rig.browser.mode = test::ScriptedBrowser::LeftOpen;
        rig.defaults->set(AppGroupKey::blockedOnly, true);
        rig.defaults->set(AppGroupKey::autoDisconnectMinutes, 25);
        auto *model = new SettingsModel(services, SettingsAbout::of(u"1.4.0"_s, linked ? u"417"_s : QString()));
        QVERIFY(showSettings(model));
        model->linkTap(LinkedAccount::Google);
        QVERIFY(view().waitForFrame());

        QList<qreal> tops;
        for (const char *name : {"accountSection", "routingSection", "automationSection", "supportSection",
                                 "aboutSection", "logoutSection"})
            tops << view().find(QString::fromLatin1(name))->mapToScene({0, 0}).y();
        QVERIFY(std::is_sorted(tops.begin(), tops.end()));
        QVERIFY(test::ViewHarness::findIn(view().find("linkRow2"), u"rowSpinner"_s)->isVisible());
        QCOMPARE(view().value("versionRow", "valueFont").value<QFont>().family(), view().brand().monoFont().family());
        QCOMPARE(view().isShown("privacyLink"), linked);
        QVERIFY(!view().find("switch1")->isEnabled());
        QCOMPARE(view().value("pickerValue", "text").toString(), u"25 мин."_s);
        view().saveScreenshot(u"linking"_s);

        rig.browser.finish(test::ScriptedBrowser::Approves);
        QTRY_VERIFY(view().isShown("linkError"));
        QCOMPARE(view().argb("linkError"), argb(view().brand().danger()));
        click(view().find("switch0"));
        QTRY_VERIFY(!model->preferences().bypassLAN);
        click(view().find("picker"));
        QQuickItem *overlay = view().window()->contentItem();
        QTRY_VERIFY(test::ViewHarness::findIn(overlay, u"pickerItem9"_s));
        QVERIFY(view().waitForFrame());
        view().saveScreenshot(u"picker"_s);
        click(test::ViewHarness::findIn(overlay, u"pickerItem2"_s));
        QTRY_COMPARE(view().value("pickerValue", "text").toString(), u"30 минут"_s);
        QCOMPARE(model->preferences().autoDisconnectMinutes, 30);
        QCOMPARE(model->autoDisconnectChoices().size(), 9);
        if (linked)
            return;
        // This system has no Apple sign-in: the button says why, and cannot be tapped.
        QQuickItem *apple = view().find("linkRow1");
        const QString note = u"Вход через Apple недоступен в этой системе"_s;
        QCOMPARE(accessibleText(apple, QAccessible::Description), note);
        QVERIFY(!apple->isEnabled());
        QObject *tip = apple->parentItem()->findChild<QObject *>(u"unavailableNote"_s);
        QTest::mouseMove(view().window(), centreOf(apple).toPoint());
        QTRY_VERIFY(tip->property("visible").toBool());
        QCOMPARE(tip->property("text").toString(), note);
        QVERIFY(view().waitForFrame());
        view().saveScreenshot(u"error-and-note"_s);
    }

    // The confirmation opens over the window with the message for the record; Escape
    // and "Отмена" close it, "Выйти" ends the session.
    void signOutDialog_data()
    {
        QTest::addColumn<QString>("close"); // escape, cancel, confirm
        QTest::newRow("escape") << "escape";
        QTest::newRow("cancel") << "cancel";
        QTest::newRow("confirm") << "confirm";
    }
    void signOutDialog()
    {
        QFETCH(QString, close);
        test::SettingsRig rig;
        rig.loadMe(R"({"has_telegram":false,"has_apple":true,"has_google":true})");
        auto *model = new SettingsModel(rig.services());
        QVERIFY(showSettings(model));
        click(view().find("logoutButton"));
        QTRY_VERIFY(model->showLogoutConfirm());
        QQuickItem *overlay = view().window()->contentItem();
        QObject *dialog = view().root()->findChild<QObject *>(u"logoutConfirm"_s);
        QTRY_VERIFY(dialog->property("opened").toBool());
        // Chosen when it opened: a record loaded meanwhile does not change it.
        rig.loadMe(R"({"has_telegram":true,"has_apple":true})");
        QVERIFY(test::ViewHarness::findIn(overlay, u"dialogMessage"_s)->property("text").toString().endsWith(
            u"через Apple или Google."_s));
        QVERIFY(view().waitForFrame());
        view().saveScreenshot(u"open"_s);

        if (close == u"escape")
            QTest::keyClick(view().window(), Qt::Key_Escape);
        else
            click(test::ViewHarness::findIn(overlay, close == u"cancel" ? u"dialogCancel"_s : u"dialogAction"_s));
        QTRY_VERIFY(!model->showLogoutConfirm());
        QTRY_VERIFY(!dialog->property("visible").toBool());
        QCOMPARE(rig.sessionEnds, int(close == u"confirm"));
    }

};

QTEST_MAIN(SettingsViewsTest)
#include "vtst_settings_views.moc"
