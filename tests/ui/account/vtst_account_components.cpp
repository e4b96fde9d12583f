#include "ui/account/AccountModule.h"
#include "ui/account/AccountPageModel.h"
#include "ui/account/SubscriptionStatusPill.h"
#include "ui/account/SubscriptionUsage.h"
#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QPointer>
#include <QQuickItem>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using test::argb;
using test::withAlpha;

namespace {

// A page's view-model that records its showings and the token of the last one.
class RecordingPageModel : public AccountPageModel {
    Q_OBJECT
public:
    using AccountPageModel::AccountPageModel;
    int shownCount = 0;
    int hiddenCount = 0;
    CancellationToken lastShowing;

protected:
    void onShown() override
    {
        ++shownCount;
        lastShowing = showingToken();
    }
    void onHidden() override { ++hiddenCount; }
};

const QByteArray kStack = "import QtQuick.Controls\n"
                          "StackView {\n"
                          " width: 320; height: 200\n"
                          " function pushPage(model) {\n"
                          "  return push(\"qrc:/qt/qml/Kovra/Account/AccountPage.qml\", {model: model}) }\n"
                          " function popPage() { pop() }\n"
                          "}";

} // namespace

class AccountComponentsTest : public test::ViewTestCase {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { registerAccountModule(); }

    // Each style in its dot state's colour: title, 15 % fill, 7-point dot that glows
    // only when active, padded 10 and 4.
    void pill_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("token");
        for (const bool dark : {false, true}) {
            const char *look = dark ? "dark" : "light";
            QTest::addRow("active %s", look) << int(SubscriptionStatusPill::Active) << dark << u"активна"_s << "success";
            QTest::addRow("expired %s", look) << int(SubscriptionStatusPill::Expired) << dark << u"истекла"_s
                                              << "danger";
            QTest::addRow("no traffic %s", look) << int(SubscriptionStatusPill::NoTraffic) << dark
                                                 << u"нет трафика"_s << "warning";
            QTest::addRow("inactive %s", look) << int(SubscriptionStatusPill::Inactive) << dark << u"неактивна"_s
                                               << "textSecondary";
        }
    }
    void pill()
    {
        QFETCH(int, style);
        QFETCH(bool, dark);
        QFETCH(QString, token);
        view().appearance().setDark(dark);
        QQuickItem *pill = view().show(u"Kovra.Account/SubscriptionStatusPill"_s, {{"style", style}});
        QVERIFY(pill);
        const QColor tone = view().brand().property(token.toLatin1().constData()).value<QColor>();
        QTEST(view().value("pillTitle", "text").toString(), "title");
        QCOMPARE(view().argb("pillTitle"), argb(tone));
        QCOMPARE(view().argb("capsule"), argb(withAlpha(tone, 0.15)));
        QCOMPARE(view().argb("disc"), argb(tone));
        QCOMPARE(view().real("pillDot", "size"), 7.0);
        QCOMPARE(view().isShown("ring"), style == SubscriptionStatusPill::Active);
        QQuickItem *title = view().find("pillTitle");
        QCOMPARE(pill->width(), 10 + 7 + 4 + title->width() + 10);
        QCOMPARE(pill->height(), 4 + title->height() + 4);
        QCOMPARE(QAccessible::queryAccessibleInterface(pill)->text(QAccessible::Name),
                 view().value("pillTitle", "text").toString());
        view().saveScreenshot(u"pill"_s);
    }

    void usageBar_data()
    {
        QTest::addColumn<qint64>("used");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<QString>("token");
        QTest::newRow("accent") << qint64(30) << qint64(100) << "accent";
        QTest::newRow("orange") << qint64(90) << qint64(100) << "warning";
        QTest::newRow("red") << qint64(120) << qint64(100) << "danger";
    }
    void usageBar()
    {
        QFETCH(qint64, used);
        QFETCH(qint64, limit);
        QFETCH(QString, token);
        const SubscriptionUsage usage = SubscriptionUsage::of(used, limit);
        QVERIFY(view().show(u"Kovra.Account/UsageBar"_s,
                            {{"width", 200}, {"fraction", usage.fraction}, {"tint", int(usage.tint)}}));
        QCOMPARE(view().real("usageFill", "width"), 200 * usage.fraction);
        QCOMPARE(view().isShown("usageFill"), usage.fraction > 0);
        QCOMPARE(view().argb("usageFill"), argb(view().brand().property(token.toLatin1().constData()).value<QColor>()));
    }

    // Hairlines go between visible rows only; empty captions take no space.
    void insetSection_data()
    {
        QTest::addColumn<bool>("secondVisible");
        QTest::addColumn<QString>("footer");
        QTest::addColumn<int>("separators");
        QTest::newRow("three rows") << true << u"Подпись"_s << 2;
        QTest::newRow("middle row hidden, no footer") << false << QString() << 1;
    }
    void insetSection()
    {
        QFETCH(bool, secondVisible);
        QFETCH(QString, footer);
        QVERIFY(view().showQml("import Kovra.Account\n"
                               "ColumnLayout { width: 360\n"
                               " InsetSection { objectName: \"section\"; header: \"Аккаунт\"; footer: \"" + footer.toUtf8() + "\"\n"
                               "  InsetRow { title: \"Telegram\"; value: \"Подключён\"; symbol: \"paperplane.fill\" }\n"
                               "  InsetRow { objectName: \"second\"; title: \"Apple ID\"; symbol: \"applelogo\"; visible: "
                               + (secondVisible ? "true" : "false") + " }\n"
                               "  InsetRow { title: \"Не работает VPN?\"; showsChevron: true; interactive: true } } }"));
        int separators = 0;
        QQuickItem *body = view().find("sectionBody");
        for (QQuickItem *child : body->childItems())
            separators += child->objectName() == u"rowSeparator" && child->isVisible();
        QTEST(separators, "separators");
        QCOMPARE(view().isShown("sectionFooter"), !footer.isEmpty());
        const qreal bodyBottom = body->y() + body->height();
        QCOMPARE(view().real("section", "height"),
                 footer.isEmpty() ? bodyBottom : view().real("sectionFooter", "y") + view().real("sectionFooter", "height"));
        view().saveScreenshot(u"section"_s);
    }

    // A pushed page is shown while it is the current item: covered, it goes away
    // (its showing's token fires); uncovered, it is shown again. A popped page
    // destroys its model. The page carries its model's navigation title.
    void pagesOnAStack()
    {
        QQuickItem *stack = view().showQml(kStack);
        QVERIFY(stack);
        auto *first = new RecordingPageModel(u"Подписка"_s);
        QPointer<RecordingPageModel> second = new RecordingPageModel(u"Настройки"_s);
        QVariant page;
        QVERIFY(QMetaObject::invokeMethod(stack, "pushPage", Q_RETURN_ARG(QVariant, page),
                                          Q_ARG(QVariant, QVariant::fromValue<QObject *>(first))));
        QCOMPARE(first->parent(), page.value<QObject *>());
        QCOMPARE(page.value<QObject *>()->property("title").toString(), u"Подписка"_s);
        QTRY_VERIFY(first->isShown());
        QCOMPARE(first->shownCount, 1);
        const CancellationToken firstShowing = first->lastShowing;
        QVERIFY(!firstShowing.isCancelled());

        QVERIFY(QMetaObject::invokeMethod(stack, "pushPage", Q_RETURN_ARG(QVariant, page),
                                          Q_ARG(QVariant, QVariant::fromValue<QObject *>(second.data()))));
        QTRY_VERIFY(second->isShown());
        QVERIFY(!first->isShown());
        QCOMPARE(first->hiddenCount, 1);
        QVERIFY(firstShowing.isCancelled());

        QPointer<QObject> secondPage = page.value<QObject *>();
        QVERIFY(QMetaObject::invokeMethod(stack, "popPage"));
        QTRY_VERIFY(secondPage.isNull());
        QTRY_VERIFY(second.isNull());
        QTRY_VERIFY(first->isShown());
        QCOMPARE(first->shownCount, 2);
        QVERIFY(!first->lastShowing.isCancelled());
    }
};

QTEST_MAIN(AccountComponentsTest)
#include "vtst_account_components.moc"
