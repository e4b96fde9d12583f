#include "ui/account/AccountModule.h"
#include "ui/account/AccountPageModel.h"
#include "ui/account/PaymentWaitingModel.h"
#include "ui/account/SubscriptionStatusPill.h"
#include "ui/account/TariffCardTexts.h"
#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QPointer>
#include <QQuickItem>
#include <QTest>

#include "PaymentFakes.h"
#include "support/Await.h"

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using test::argb;
using test::withAlpha;

using Phase = PaymentWaitingState::Phase;

namespace {

// A page's view-model that records its showings and the token of the last one.
class RecordingPageModel : public AccountPageModel {
    Q_OBJECT
public:
    using AccountPageModel::AccountPageModel;
    int shownCount = 0;
    CancellationToken lastShowing;

protected:
    void onShown() override { ++shownCount, lastShowing = showingToken(); }
};

const QByteArray kStack = "import QtQuick.Controls\n"
                          "StackView {\n"
                          " width: 320; height: 200\n"
                          " function pushPage(model) {\n"
                          "  return push(\"qrc:/qt/qml/Kovra/Account/AccountPage.qml\", {model: model}) }\n"
                          " function popPage() { pop() }\n"
                          "}";
const TariffCardTexts kCard = TariffCardTexts::of({u"m3"_s, {3, 499, 380, 3.456, 100}}, 17);

} // namespace

class AccountViewsTest : public test::ViewTestCase {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { registerAccountModule(); }

    // Each style in its dot state's colour: title, 15 % fill, 7-point dot that glows
    // only when active, padded 10 and 4.
    void pill_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("token");
        using S = SubscriptionStatusPill;
        QTest::newRow("active") << int(S::Active) << u"активна"_s << "success";
        QTest::newRow("expired") << int(S::Expired) << u"истекла"_s << "danger";
        QTest::newRow("no traffic") << int(S::NoTraffic) << u"нет трафика"_s << "warning";
        QTest::newRow("inactive") << int(S::Inactive) << u"неактивна"_s << "textSecondary";
        QTest::newRow("active dark") << int(S::Active) << u"активна"_s << "success";
    }
    void pill()
    {
        QFETCH(int, style);
        QFETCH(QString, token);
        QQuickItem *pill = view().show(u"Kovra.Account/SubscriptionStatusPill"_s, {{"style", style}});
        QVERIFY(pill);
        const QColor tone = view().brand().property(token.toLatin1().constData()).value<QColor>();
        QTEST(view().value("pillTitle", "text").toString(), "title");
        QCOMPARE((QStringList{view().argb("pillTitle"), view().argb("capsule"), view().argb("disc")}),
                 (QStringList{argb(tone), argb(withAlpha(tone, 0.15)), argb(tone)}));
        QCOMPARE(view().real("pillDot", "size"), 7.0);
        QCOMPARE(view().isShown("ring"), style == SubscriptionStatusPill::Active);
        QQuickItem *title = view().find("pillTitle");
        QCOMPARE(pill->size(), QSizeF(10 + 7 + 4 + title->width() + 10, 4 + title->height() + 4));
        QCOMPARE(QAccessible::queryAccessibleInterface(pill)->text(QAccessible::Name),
                 view().value("pillTitle", "text").toString());
        view().saveScreenshot(u"pill"_s);
    }

    // Hairlines go between visible rows only; captions under the rows.
    void insetSection()
    {
        QVERIFY(view().showQml("import Kovra.Account\nColumnLayout { width: 360\n"
                               " InsetSection { header: \"Аккаунт\"; footer: \"Подпись\"\n"
                               "  InsetRow { title: \"Telegram\"; value: \"Подключён\"; symbol: \"paperplane.fill\" }\n"
                               "  InsetRow { title: \"Apple ID\"; symbol: \"applelogo\"; visible: false }\n"
                               "  InsetRow { title: \"Google\"; symbol: \"g.circle.fill\" }\n"
                               "  InsetRow { title: \"Не работает VPN?\"; showsChevron: true; interactive: true } } }"));
        int separators = 0;
        QQuickItem *body = view().find("sectionBody");
        for (QQuickItem *child : body->childItems())
            separators += child->objectName() == u"rowSeparator" && child->isVisible();
        QCOMPARE(separators, 2);
        QVERIFY(view().real("sectionFooter", "y") >= body->y() + body->height());
        view().saveScreenshot(u"section"_s);
    }

    // A pushed page is shown while it is the current item: covered, it goes away
    // (its showing's token fires); uncovered, it is shown again. A popped page
    // destroys its model. The page carries its model's navigation title.
    void pagesOnAStack()
    {
        QQuickItem *stack = view().showQml(kStack);
        QVERIFY(stack);
        const auto push = [stack](QObject *model) {
            QVariant page;
            QMetaObject::invokeMethod(stack, "pushPage", Q_RETURN_ARG(QVariant, page), Q_ARG(QVariant, QVariant::fromValue(model)));
            return QPointer<QObject>(page.value<QObject *>());
        };
        auto *first = new RecordingPageModel(u"Подписка"_s);
        QPointer<RecordingPageModel> second = new RecordingPageModel(u"Настройки"_s);
        const QPointer<QObject> firstPage = push(first);
        QCOMPARE(firstPage->property("title").toString(), u"Подписка"_s);
        QTRY_VERIFY(first->isShown());
        const CancellationToken firstShowing = first->lastShowing;
        QVERIFY(!firstShowing.isCancelled());

        const QPointer<QObject> secondPage = push(second);
        QTRY_VERIFY(second->isShown());
        QVERIFY(!first->isShown());
        QVERIFY(firstShowing.isCancelled());

        QVERIFY(QMetaObject::invokeMethod(stack, "popPage"));
        QTRY_VERIFY(secondPage.isNull() && second.isNull());
        QTRY_VERIFY(first->isShown());
        QCOMPARE(first->shownCount, 2);
        QVERIFY(!first->lastShowing.isCancelled());
    }

    // Without the tag nothing takes its place: the price stays at the trailing edge.
    // Selected (here with the tag) and unselected cards take the same room; only the
    // stroke and the mark differ.
    void tariffCard_data()
    {
        QTest::addColumn<bool>("bestValue");
        QTest::newRow("best value") << true;
        QTest::newRow("plain") << false;
        QTest::newRow("best value dark") << true;
    }
    void tariffCard()
    {
        QFETCH(bool, bestValue);
        QVariantMap properties = kCard.cardProperties(bestValue, bestValue);
        properties.insert(u"width"_s, 400);
        QQuickItem *card = view().show(u"Kovra.Account/TariffCard"_s, properties);
        QVERIFY(card);
        QQuickItem *price = view().find("price");
        QCOMPARE(price->mapToItem(card, QPointF(price->width(), 0)).x(), 400.0 - 16);
        QCOMPARE(view().isShown("bestValue"), bestValue);
        QCOMPARE(price->property("font").value<QFont>().family(), view().brand().numericFont().family());
        QCOMPARE(view().value("selectionMark", "name").toString(), bestValue ? u"checkmark.circle.fill"_s : u"circle"_s);
        const QColor stroke = view().value("selectionStroke", "border.color").value<QColor>();
        QCOMPARE(argb(stroke), argb(withAlpha(view().brand().accent(), bestValue ? 1 : 0)));
        const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(card);
        QCOMPARE(a11y->role(), QAccessible::Button);
        QCOMPARE(a11y->state().checked, bestValue);
        QVERIFY(a11y->text(QAccessible::Name).contains(u"≈ 499 ₽"_s));
        view().saveScreenshot(u"card"_s);
        const QSizeF size = card->size();
        properties.insert(kCard.cardProperties(!bestValue, bestValue)); // the other selection
        QQuickItem *other = view().show(u"Kovra.Account/TariffCard"_s, properties);
        QVERIFY(other && other->size() == size);
    }

    // Each phase's layout: the icon, the attempt line in figures of one width, and
    // the buttons top to bottom.
    void waitingView_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<QString>("icon");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("waiting") << int(Phase::waiting) << "spinner" << QStringList{u"Закрыть"_s};
        QTest::newRow("timed out") << int(Phase::timedOut) << "clock" << QStringList{u"Обновить"_s, u"Закрыть"_s};
        QTest::newRow("confirmed") << int(Phase::confirmed) << "checkmark" << QStringList{u"Готово"_s};
        QTest::newRow("timed out dark") << int(Phase::timedOut) << "clock" << QStringList{u"Обновить"_s, u"Закрыть"_s};
    }
    void waitingView()
    {
        QFETCH(int, phase);
        QFETCH(QString, icon);
        QFETCH(QStringList, buttons);
        view().appearance().setReduceMotion(true);
        const auto latest = test::PaymentWaitRig::active(QDateTime(QDate(2025, 3, 5), QTime(12, 0)).toSecsSinceEpoch());
        // Owned by the engine: it outlives the view.
        auto *model = new PaymentWaitingModel(PaymentWaitingContent::of(Phase(phase), 3, latest, QTimeZone("Europe/Moscow")),
                                              &view().engine());
        QVERIFY(view().show(u"Kovra.Account/PaymentWaitingView"_s, {{"model", QVariant::fromValue(model)},
                                                                     {"width", 460}, {"height", 440}}));
        QVERIFY(view().isShown(icon));
        QCOMPARE(view().isShown("attemptLine"), phase == int(Phase::waiting));
        if (phase == int(Phase::waiting))
            QCOMPARE(view().value("attemptNumber", "font.family").toString(), view().brand().numericFont().family());
        qreal lastY = -1;
        for (int i = 0; i < buttons.size(); ++i) {
            QQuickItem *button = view().find(u"action%1"_s.arg(i));
            QVERIFY(button);
            QCOMPARE(button->property("text").toString(), buttons[i]);
            QCOMPARE(button->width(), 460.0 - 48);
            QVERIFY(button->y() > lastY);
            lastY = button->y();
        }
        view().saveScreenshot(u"waiting"_s);
    }

    // The check mark grows in once per confirmation, not again when the texts around
    // it change; with reduced motion it is at full size on the first frame.
    void checkmark_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("motion") << false;
        QTest::newRow("reduced motion") << true;
    }
    void checkmark()
    {
        QFETCH(bool, reduceMotion);
        view().appearance().setReduceMotion(reduceMotion);
        test::PaymentWaitRig rig(3);
        rig.replies->next = test::PaymentWaitRig::active(rig.clock->nowSeconds() + 86400 * 30);
        auto *model = new PaymentWaitingModel(&rig.state, &rig.store, rig.clock, &view().engine());
        rig.state.start();
        rig.clock->advance(3000ms);
        QTRY_COMPARE(rig.state.phase(), Phase::confirmed);
        QVERIFY(view().show(u"Kovra.Account/PaymentWaitingView"_s, {{"model", QVariant::fromValue(model)},
                                                                     {"width", 460}}));
        QPointer<QQuickItem> mark = view().find("checkmark");
        QVERIFY(mark);
        QCOMPARE(mark->scale() == 1.0 && mark->opacity() == 1.0, reduceMotion); // the first frame
        QTRY_COMPARE(QPointF(mark->scale(), mark->opacity()), QPointF(1, 1)); // scale, opacity
        const QString before = model->subtitle();
        rig.replies->next = test::PaymentWaitRig::active(rig.clock->nowSeconds() + 86400 * 60);
        test::await(rig.store.refresh());
        QCOMPARE_NE(model->subtitle(), before);
        QVERIFY(view().waitForFrame());
        QCOMPARE(view().find("checkmark"), mark.data());
        QCOMPARE(QPointF(mark->scale(), mark->opacity()), QPointF(1, 1));
    }
};

QTEST_MAIN(AccountViewsTest)
#include "vtst_account_views.moc"
