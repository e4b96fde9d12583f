#include "ui/account/AccountModule.h"
#include "ui/account/BuyModel.h"
#include "ui/account/SettingsModel.h"
#include "ui/account/SubscriptionDetailModel.h"
#include "ui/account/SubscriptionStripModel.h"
#include "ui/design/Brand.h"

#include "core/APIError.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include "PaymentFakes.h"
#include "SettingsFakes.h"

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using test::argb;

using OptionalSubscription = std::optional<SubscriptionOut>;
Q_DECLARE_METATYPE(std::optional<kovra::SubscriptionOut>)

namespace {

// 2025-03-05 12:00 UTC, the rig's clock.
const qint64 kNow = 1741176000;

const QByteArray kMe = R"({"marzban_username":"kv_48213","has_telegram":true,"has_apple":false})";

// A navigation stack as the home window's: pages pushed by file, or the card on a page.
const QByteArray kStack = "import QtQuick.Controls\nimport Kovra.Account\n"
                          "StackView { id: stackView; width: 460; height: 760\n"
                          " property SubscriptionStripModel strip\n"
                          " function pushPage(url, model) { return push(url, {model: model}, StackView.Immediate) }\n"
                          " function showStrip() { push(page, {}, StackView.Immediate) }\n"
                          " Component { id: page\n"
                          "  Item { SubscriptionStrip { objectName: 'strip'; x: 20; y: 20; width: 400\n"
                          "   model: stackView.strip; stack: stackView } } } }";

} // namespace

class SubscriptionViewsTest : public test::ViewTestCase {
    Q_OBJECT

    QQuickItem *m_stack = nullptr;

    QQuickItem *pushPage(const char *file, QObject *model)
    {
        if (!m_stack)
            m_stack = view().showQml(kStack);
        QVariant page;
        QMetaObject::invokeMethod(m_stack, "pushPage", Q_RETURN_ARG(QVariant, page),
                                  Q_ARG(QVariant, u"qrc:/qt/qml/Kovra/Account/"_s + QLatin1String(file)),
                                  Q_ARG(QVariant, QVariant::fromValue(model)));
        return page.value<QQuickItem *>();
    }
    // The view-model of the stack's current page.
    QObject *currentModel() const
    {
        const auto *page = m_stack->property("currentItem").value<QQuickItem *>();
        return page ? page->property("model").value<QObject *>() : nullptr;
    }
    // The card over `inputs` on a stack; the model lives as long as the view.
    SubscriptionStripModel *showStrip(const AccountServices &services, SubscriptionStripInputs inputs)
    {
        m_stack = view().showQml(kStack);
        if (!m_stack)
            return nullptr;
        auto *strip = new SubscriptionStripModel(AccountScreens(services), m_stack);
        strip->setInputs(std::move(inputs));
        m_stack->setProperty("strip", QVariant::fromValue(strip));
        QMetaObject::invokeMethod(m_stack, "showStrip");
        return view().waitForFrame() ? strip : nullptr;
    }
    void click(const char *name) { test::clickCentre(view().window(), view().find(QString::fromLatin1(name))); }

private Q_SLOTS:
    void initTestCase() { registerAccountModule(); }
    void init()
    {
        ViewTestCase::init();
        m_stack = nullptr;
    }

    // The screen in its main states: sections by the subscription, the support rows,
    // the bar's tint, and the buy button under the list (24 at the sides and below).
    void detailScreen_data()
    {
        QTest::addColumn<OptionalSubscription>("sub");
        const SubscriptionOut active{u"https://sub.example/u/9f2c"_s, u"active"_s, 10 * (qint64(1) << 30),
                                     qint64(9) << 30, kNow + 40 * 86400, std::nullopt};
        const SubscriptionOut expired{u"https://sub.example/u/9f2c"_s, u"expired"_s, 0, 123456789, kNow - 3600,
                                      std::nullopt};
        QTest::newRow("none") << OptionalSubscription();
        QTest::newRow("active") << OptionalSubscription(active);
        QTest::newRow("expired") << OptionalSubscription(expired);
        QTest::newRow("active dark") << OptionalSubscription(active);
    }
    void detailScreen()
    {
        QFETCH(OptionalSubscription, sub);
        test::SettingsRig rig;
        rig.loadMe(kMe);
        QVERIFY(pushPage("SubscriptionDetailView.qml", AccountScreens(rig.services()).subscriptionDetail(sub)));
        QVERIFY(view().waitForFrame());

        const bool active = sub && sub->status == u"active"_s;
        for (const char *name : {"statusSection", "trafficSection", "expirySection"})
            QCOMPARE(view().isShown(QString::fromLatin1(name)), sub.has_value());
        QCOMPARE(view().isShown("emptySection"), !sub);
        QCOMPARE(view().isShown("copyLink"), active);
        QCOMPARE(view().isShown("shareLink"), active);
        QCOMPARE(test::ViewHarness::findIn(view().find("supportSection"), u"sectionFooter"_s)->isVisible(), active);
        QCOMPARE(view().value("accountId", "text").toString(), u"kv_48213"_s);
        QVERIFY(view().isShown("contactSupport"));
        QCOMPARE(view().argb("rowTitle"), argb(view().brand().textPrimary()));
        if (active)
            QCOMPARE(view().argb("usageFill"), argb(view().brand().warning()));
        QQuickItem *buy = view().find("buyButton");
        QCOMPARE(buy->mapToItem(m_stack, {0, 0}), QPointF(24, 760 - 24 - buy->height()));
        QCOMPARE(buy->width(), 460 - 48);
        view().saveScreenshot(u"detail"_s);
    }

    // The account id row appears when the user record arrives after the screen
    // opened. Its icon-only copy button copies the id and marks only itself.
    void accountIdRow()
    {
        test::SettingsRig rig;
        const SubscriptionOut sub{u"https://sub.example/u/9f2c"_s, u"active"_s, 0, 0, std::nullopt, std::nullopt};
        QVERIFY(pushPage("SubscriptionDetailView.qml", AccountScreens(rig.services()).subscriptionDetail(sub)));
        QVERIFY(!view().isShown("accountIdRow"));
        rig.loadMe(kMe);
        QTRY_VERIFY(view().isShown("accountIdRow"));
        QVERIFY(view().waitForFrame());
        const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(view().find("copyAccountId"));
        QCOMPARE(a11y->text(QAccessible::Name), u"Копировать ID аккаунта"_s);
        click("copyAccountId");
        QCOMPARE(QGuiApplication::clipboard()->text(), u"kv_48213"_s);
        QTRY_COMPARE(view().value("copySymbol", "name").toString(), u"checkmark"_s); // the first is the id's
        const QList<QQuickItem *> titles = view().find("copyLink")->findChildren<QQuickItem *>(u"copyTitle"_s);
        QCOMPARE(titles.value(0)->property("text").toString(), u"Скопировать подписку"_s);
        view().saveScreenshot(u"copied"_s);
    }

    // A screen opened before the first subscription arrived shows it once the store has
    // it: the subscription sections replace the empty state, every row with its value.
    void detailFollowsTheStore()
    {
        test::SettingsRig rig;
        const auto replies = std::make_shared<test::ScriptedSubscriptions>();
        SubscriptionStore store(replies, AppGroupStore(Defaults::inMemory(), nullptr), nullptr, {rig.clock});
        AccountServices services = rig.services();
        services.subscriptionStore = &store;
        QVERIFY(pushPage("SubscriptionDetailView.qml", AccountScreens(services).subscriptionDetail(std::nullopt)));
        QVERIFY(view().isShown("emptySection"));

        replies->next = SubscriptionOut{u"https://sub.example/u/9f2c"_s, u"active"_s, qint64(100) << 30, 0,
                                        rig.clock->nowSeconds() + 36 * 86400 + 3600, std::nullopt};
        test::await(store.refresh());
        QTRY_VERIFY(view().isShown("expirySection"));
        QVERIFY(!view().isShown("emptySection"));
        QVERIFY(view().isShown("copyLink"));
        QCOMPARE(view().value("trafficRow", "value").toString(), u"0.0 / 100.0 ГБ"_s);
        QCOMPARE(view().value("remainingRow", "value").toString(), u"36 дн."_s);
        QCOMPARE(view().value("buyButton", "text").toString(), u"Продлить подписку"_s);
        QVERIFY(view().waitForFrame());
        view().saveScreenshot(u"paid"_s);
    }

    // The card in each state at the least height: only that state's content, at the
    // top left under the header, the card at least 60 high inside its padding.
    void stripStates_data()
    {
        QTest::addColumn<OptionalSubscription>("sub");
        QTest::addColumn<bool>("loading");
        QTest::addColumn<QString>("shown");
        const SubscriptionOut active{u"https://sub.example/u/9f2c"_s, u"active"_s, 10 * (qint64(1) << 30),
                                     qint64(9) << 30, kNow + 40 * 86400, std::nullopt};
        SubscriptionOut expired = active;
        expired.expireUnix = kNow - 60;
        QTest::newRow("loaded") << OptionalSubscription(active) << true << u"stripUsage"_s;
        QTest::newRow("expired") << OptionalSubscription(expired) << false << u"stripUsage stripCallToAction"_s;
        QTest::newRow("loading") << OptionalSubscription() << true << u"stripPlaceholder"_s;
        QTest::newRow("failed") << OptionalSubscription() << false << u"stripError"_s;
        QTest::newRow("empty") << OptionalSubscription() << false << u"stripEmpty"_s;
        QTest::newRow("expired dark") << OptionalSubscription(expired) << false << u"stripUsage stripCallToAction"_s;
    }
    void stripStates()
    {
        QFETCH(OptionalSubscription, sub);
        QFETCH(bool, loading);
        QFETCH(QString, shown);
        test::SettingsRig rig;
        const bool failed = shown == u"stripError"_s;
        QVERIFY(showStrip(rig.services(), {sub, loading,
                                           failed ? std::make_exception_ptr(APIError::server(502)) : std::exception_ptr(),
                                           true, 60}));
        const QStringList contents{u"stripUsage"_s, u"stripCallToAction"_s, u"stripPlaceholder"_s, u"stripError"_s,
                                   u"stripEmpty"_s};
        for (const QString &name : contents)
            QCOMPARE(view().isShown(name), shown.contains(name));
        QCOMPARE(view().isShown("stripPill"), sub.has_value());
        QQuickItem *header = view().find("stripHeader");
        QCOMPARE(header->mapToItem(view().find("strip"), {0, 0}), QPointF(16, 16));
        QQuickItem *first = view().find(shown.section(u' ', 0, 0));
        QCOMPARE(first->mapToItem(header, {0, 0}), QPointF(0, header->height() + 8));
        QVERIFY(view().real("strip", "height") >= 60 + 32);
        view().saveScreenshot(u"strip"_s);
    }

    // The header opens a new detail screen over a copy of the card's subscription, none
    // included; the call to action pushes a new settings screen without Telegram, the
    // tariff screen with it.
    void stripNavigation_data()
    {
        QTest::addColumn<OptionalSubscription>("sub");
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("opens");
        QTest::addColumn<bool>("telegram");
        const SubscriptionOut active{u"https://sub.example/u"_s, u"active"_s, 0, 0, {}, {}};
        SubscriptionOut expired = active;
        expired.expireUnix = kNow - 60;
        QTest::newRow("header") << OptionalSubscription(active) << u"stripHeader"_s << u"detail"_s << false;
        QTest::newRow("header, none") << OptionalSubscription() << u"stripHeader"_s << u"empty detail"_s << false;
        QTest::newRow("call to action") << OptionalSubscription(expired) << u"stripCallToAction"_s << u"settings"_s << false;
        QTest::newRow("call to action, Telegram") << OptionalSubscription(expired) << u"stripCallToAction"_s
                                                  << u"tariffs"_s << true;
    }
    void stripNavigation()
    {
        QFETCH(OptionalSubscription, sub);
        QFETCH(QString, press);
        QFETCH(bool, telegram);
        test::SettingsRig rig;
        QVERIFY(showStrip(rig.services(), {sub, false, {}, telegram}));
        const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(view().find("stripHeader"));
        QCOMPARE(a11y->text(QAccessible::Description), u"Открыть детали подписки"_s);
        click(press.toLatin1().constData());
        QTRY_COMPARE(m_stack->property("depth").toInt(), 2);
        const auto *detail = qobject_cast<SubscriptionDetailModel *>(currentModel());
        const QString seen = qobject_cast<SettingsModel *>(currentModel()) ? u"settings"_s
                             : qobject_cast<BuyModel *>(currentModel()) ? u"tariffs"_s
                             : detail ? (detail->hasSubscription() ? u"detail"_s : u"empty detail"_s)
                                      : QString();
        QTEST(seen, "opens");
    }
};

QTEST_MAIN(SubscriptionViewsTest)
#include "vtst_subscription_views.moc"
