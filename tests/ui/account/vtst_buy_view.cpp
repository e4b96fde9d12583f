#include "ui/account/AccountModule.h"
#include "ui/account/BuyModel.h"
#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include "BuyFakes.h"

using namespace kovra;
using namespace kovra::test;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QByteArray kStack = "import QtQuick.Controls\n"
                          "StackView {\n width: 460; height: 720\n"
                          " function pushPage(model) {\n"
                          "  return push(\"qrc:/qt/qml/Kovra/Account/BuyView.qml\", {model: model}, StackView.Immediate) }\n"
                          " function popPage() { pop(null, StackView.Immediate) }\n"
                          "}";

QAccessibleInterface *a11y(QQuickItem *item)
{
    return QAccessible::queryAccessibleInterface(item);
}

} // namespace

class BuyViewTest : public ViewTestCase {
    Q_OBJECT

    std::unique_ptr<BuyRig> m_rig;
    QQuickItem *m_stack = nullptr;
    QPointer<BuyModel> m_model;

    void showScreen()
    {
        m_stack = view().showQml(kStack);
        QVERIFY(m_stack);
        m_model = AccountScreens(m_rig->services()).buy();
        QMetaObject::invokeMethod(m_stack, "pushPage", Q_ARG(QVariant, QVariant::fromValue(m_model.data())));
        QTRY_VERIFY(m_model->isShown());
    }
    void click(QQuickItem *item) { clickCentre(view().window(), item); }
    QQuickWindow *sheetWindow()
    {
        for (QWindow *w : QGuiApplication::topLevelWindows())
            if (w->isVisible() && w->transientParent() == view().window())
                return qobject_cast<QQuickWindow *>(w);
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase() { registerAccountModule(); }
    void init()
    {
        ViewTestCase::init();
        m_rig = std::make_unique<BuyRig>();
    }
    void cleanup()
    {
        ViewTestCase::cleanup();
        m_rig.reset();
    }

    // Each body (the list also dark): the gate (which pushes a new settings screen on the
    // stack; coming back loads again), the placeholder as one spoken element, the
    // error card in orange, and the plans with the bar pinned to the bottom edge and
    // the list ending above it, selected by mouse, Space and Enter.
    void screens_data()
    {
        QTest::addColumn<QString>("body");
        for (const char *body : {"gate", "placeholder", "error", "list"})
            QTest::newRow(body) << QString::fromLatin1(body);
        QTest::newRow("list dark") << u"list"_s;
    }
    void screens()
    {
        QFETCH(QString, body);
        m_rig->scriptMe({body == u"placeholder" ? FakeReply::silent() : BuyRig::record(body != u"gate")});
        m_rig->scriptTariffs({body == u"error" ? FakeReply::json(500)
                                               : FakeReply::json(200, BuyRig::plans(u"m12:12/2400 m1:1/300/50 m6:6/1500 m3:3/800"_s))});
        showScreen();
        const QString shownCard = body == u"list" ? u"planButton0"_s : body == u"error" ? u"errorCard"_s : body;
        QTRY_VERIFY(view().isShown(shownCard));
        QCOMPARE(view().isShown("continueBar"), body == u"list");
        QCOMPARE(view().value("headerTitle", "text").toString(), u"Выберите тариф"_s);
        QVERIFY(view().waitForFrame());
        view().saveScreenshot(body);

        if (body == u"gate") {
            QCOMPARE(a11y(view().find("gateButton"))->text(QAccessible::Description),
                     u"Открыть настройки, чтобы привязать Telegram"_s);
            click(view().find("gateButton"));
            QTRY_COMPARE(m_stack->property("depth").toInt(), 2);
            QVERIFY(!m_model->isShown());
            QTRY_VERIFY(m_stack->property("currentItem").value<QObject *>()->findChild<QObject *>(u"accountSection"_s));
            const int loads = m_rig->requestsTo(u"/payment/tariffs"_s);
            QMetaObject::invokeMethod(m_stack, "popPage");
            QTRY_VERIFY(m_model->isShown());
            QTRY_COMPARE(m_rig->requestsTo(u"/payment/tariffs"_s), loads + 1);
        } else if (body == u"placeholder") {
            QQuickItem *placeholder = view().find("placeholder");
            QCOMPARE(a11y(placeholder)->text(QAccessible::Name), u"Загружаем тарифы…"_s);
            QCOMPARE(a11y(placeholder)->childCount(), 0);
            QVERIFY(view().find("skeletonCard2") && placeholder->property("sweeping").toBool());
        } else if (body == u"error") {
            QQuickItem *title = ViewHarness::findIn(view().find("errorTitle"), u"labelText"_s);
            QCOMPARE(argb(title->property("color").value<QColor>()), argb(view().brand().warning()));
            QVERIFY(!view().value("errorText", "text").toString().isEmpty());
        } else {
            QQuickItem *bar = view().find("continueBar");
            QQuickItem *list = view().find("planList");
            QCOMPARE(bar->mapToScene({0, bar->height()}).y(), m_stack->mapToScene({0, m_stack->height()}).y());
            QCOMPARE(list->mapToScene({0, list->height()}).y(), bar->mapToScene({0, 0}).y());
            QVERIFY(ViewHarness::findIn(view().find("planButton3"), u"bestValue"_s)->isVisible()); // 12 months
            QCOMPARE(m_model->selectedIDText(), u"m12"_s);
            click(view().find("planButton1"));
            QCOMPARE(m_model->selectedIDText(), u"m3"_s);
            QVERIFY(a11y(view().find("planButton1"))->state().checked);
            for (const auto &[key, row] : {std::pair{Qt::Key_Space, 0}, std::pair{Qt::Key_Return, 2}}) {
                view().find(u"planButton%1"_s.arg(row))->forceActiveFocus(Qt::TabFocusReason);
                QTest::keyClick(view().window(), key);
                QCOMPARE(m_model->selectedIDText(), m_model->tariffs().at(row).planID);
            }
            QCOMPARE(view().value("continueButton", "text").toString(), u"Перейти к оплате · ≈ 1500 ₽"_s);
            QVERIFY(view().find("feature1"));
            QCOMPARE(a11y(view().find("feature1"))->text(QAccessible::Name), u"50 ГБ / мес"_s);
            QVERIFY(view().waitForFrame());
            view().saveScreenshot(u"selected"_s);
        }
    }

    // Without a selection the bar's button reads "Выберите тариф", dimmed and inert.
    void disabledBar()
    {
        QQuickItem *bar = view().show(u"Kovra.Account/ContinueBar"_s,
                                      {{"title", continueButtonTitle(nullptr)}, {"canContinue", false}, {"width", 460}});
        QVERIFY(bar);
        QSignalSpy clicks(bar, SIGNAL(continueClicked()));
        click(view().find("continueButton"));
        QCOMPARE(clicks.count(), 0);
        QCOMPARE(view().real("continueButton", "opacity"), 0.5);
        QCOMPARE(view().value("label", "text").toString(), u"Выберите тариф"_s);
        view().saveScreenshot(u"disabled"_s);
    }

    // Continue opens the payment sheet for the selected plan; its dismissal (here by
    // the window manager) clears the sheet's plan.
    void continueOpensTheSheet()
    {
        m_rig->scriptMe({BuyRig::record(true)});
        m_rig->scriptTariffs({FakeReply::json(200, BuyRig::plans(u"m1:1/300 m3:3/800"_s))});
        showScreen();
        QTRY_VERIFY(view().isShown("continueButton") && m_model->canContinue());
        click(view().find("continueButton"));
        QTRY_VERIFY(sheetWindow() && sheetWindow()->isExposed());
        QCOMPARE(m_model->sheetTariff()->planID, u"m3"_s);
        QVERIFY(ViewHarness::findIn(sheetWindow()->contentItem(), u"payButton"_s));
        sheetWindow()->close();
        QTRY_VERIFY(!m_model->hasSheetTariff() && !sheetWindow());
    }
};

QTEST_MAIN(BuyViewTest)
#include "vtst_buy_view.moc"
