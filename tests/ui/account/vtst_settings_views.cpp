#include "ui/account/AccountModule.h"
#include "ui/account/SettingsModel.h"
#include "ui/account/SupportChecklistModel.h"
#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QTranslator>

#include "SettingsFakes.h"

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using test::argb;
using test::withAlpha;
using test::accessibleText;
using test::centreOf;

namespace {

// Turns the checklist's steps into texts that start with other numbers.
class StepTranslator final : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *, const char *source, const char *, int) const override
    {
        const QByteArray key(source);
        if (!key.startsWith("settings.support.checklist.step"))
            return {};
        return u"%1. Step %2"_s.arg(9 - key.right(1).toInt()).arg(QString::fromLatin1(key.right(1)));
    }
};

const QByteArray kStack = "import QtQuick.Controls\nimport Kovra.Account\n"
                          "StackView {\n width: 460; height: 720\n"
                          " function pushPage(model) {\n"
                          "  return push(\"qrc:/qt/qml/Kovra/Account/SettingsView.qml\", {model: model}, StackView.Immediate) }\n"
                          "}";

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

    // The six sections in order. Linked rows with their values (the dot on Telegram
    // only), a running flow's spinner, then its error in red; the Apple button that
    // cannot work here with its note on hover; about values in the monospaced font, no
    // privacy row without a usable address. The Russian-sites switch dimmed and
    // disabled under "only blocked"; a stored time the picker does not offer shown as
    // its extra item until another is chosen; clicks change the preferences.
    void settingsScreen_data()
    {
        QTest::addColumn<bool>("linked");
        QTest::newRow("unlinked") << false;
        QTest::newRow("linked") << true;
        QTest::newRow("linked dark") << true;
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
        QCOMPARE(view().isShown("rowStatusDot"), linked); // the first dot is Telegram's
        QVERIFY(test::ViewHarness::findIn(view().find("linkRow2"), u"rowSpinner"_s)->isVisible());
        QCOMPARE(view().value("buildRow", "value").toString(), linked ? u"417"_s : u"—"_s);
        QCOMPARE(view().value("versionRow", "valueFont").value<QFont>().family(), view().brand().monoFont().family());
        QCOMPARE(view().isShown("privacyLink"), linked);
        QCOMPARE(view().real("switch1", "opacity"), 0.55);
        QVERIFY(!view().find("switch1")->isEnabled() && !view().find("switch5")->isEnabled());
        QCOMPARE(view().argb("switchTrack"), argb(view().brand().accent())); // LAN, on
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
        QTest::newRow("cancel, dark") << "cancel";
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

    // Pushed from the settings screen: the steps numbered 1 to 4 in order whatever the
    // texts, each number in bold centred on a 20-point accent disc and read with its
    // step, then the contact button.
    void checklist()
    {
        view().appearance().setDark(true);
        StepTranslator translator;
        QCoreApplication::installTranslator(&translator);
        AccountServices services;
        services.linkOpener = std::make_shared<test::RecordingUrlOpener>();
        QQuickItem *stack = view().showQml(kStack);
        QVERIFY(stack);
        QMetaObject::invokeMethod(stack, "pushPage", Q_ARG(QVariant, QVariant::fromValue(new SettingsModel(services))));
        QTRY_VERIFY(view().isShown("checklistLink"));
        click(view().find("checklistLink"));
        QTRY_VERIFY(view().isShown("step4") && !stack->property("busy").toBool());
        QCOMPARE(stack->property("depth").toInt(), 2);
        QQuickItem *page = stack->property("currentItem").value<QQuickItem *>();

        double lastY = -1;
        for (int n = 1; n <= 4; ++n) {
            QQuickItem *step = test::ViewHarness::findIn(page, u"step%1"_s.arg(n));
            QQuickItem *number = test::ViewHarness::findIn(step, u"stepNumber"_s);
            QQuickItem *badge = test::ViewHarness::findIn(step, u"stepBadge"_s);
            QCOMPARE(number->property("text").toString(), QString::number(n));
            QVERIFY(step->mapToScene({0, 0}).y() > lastY);
            lastY = step->mapToScene({0, 0}).y();
            QCOMPARE(badge->size(), QSizeF(20, 20));
            const QPointF centre = number->mapToItem(badge, {number->width() / 2, number->height() / 2});
            QVERIFY(qAbs(centre.x() - 10) <= 0.5 && qAbs(centre.y() - 10) <= 0.5); // centred to the pixel
            QCOMPARE(argb(badge->property("color").value<QColor>()), argb(withAlpha(view().brand().accent(), 0.15)));
            QVERIFY(number->property("font").value<QFont>().bold());
            QCOMPARE(accessibleText(step, QAccessible::Name), u"%1. %2. Step %1"_s.arg(n).arg(9 - n));
        }
        QVERIFY(test::ViewHarness::findIn(page, u"contactSupport"_s)->isVisible());
        QVERIFY(view().waitForFrame());
        view().saveScreenshot(u"checklist"_s);
        QCoreApplication::removeTranslator(&translator);
    }
};

QTEST_MAIN(SettingsViewsTest)
#include "vtst_settings_views.moc"
