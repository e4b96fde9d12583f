#include "ui/account/AccountModule.h"
#include "ui/account/SettingsModel.h"

#include "support/view/ViewHarness.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include "SettingsFakes.h"

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;

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
