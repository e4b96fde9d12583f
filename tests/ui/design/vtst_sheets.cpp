#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;

class SheetsTest : public test::ViewTestCase {
    Q_OBJECT
private Q_SLOTS:
    void flagLabel()
    {
        QQuickItem *label = view().show(QStringLiteral("FlagLabel"),
                                        {{"flags", u"🇷🇺 → 🇳🇱"_qs}, {"label", u"Москва → Амстердам"_qs}});
        QVERIFY(label);
        QCOMPARE(label->property("text").toString(), u"🇷🇺 Москва → 🇳🇱 Амстердам"_qs);
        QCOMPARE(label->property("color").value<QColor>(), view().brand().textPrimary());
        label->setProperty("flags", QString());
        label->setProperty("label", u"<b>Авто</b>"_qs);
        QCOMPARE(label->property("text").toString(), u"<b>Авто</b>"_qs);
        QCOMPARE(label->property("textFormat").toInt(), 0); // plain text, shown verbatim
    }

    void providerIcon_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("badge");
        QTest::addColumn<bool>("symbol");
        QTest::addColumn<QString>("accessibleName");
        QTest::newRow("gcp") << int(ProviderKind::Gcp) << QString() << true << false << u"Google Cloud"_qs;
        QTest::newRow("aws") << int(ProviderKind::Aws) << QString() << true << false << u"Amazon Web Services"_qs;
        QTest::newRow("hiphosting") << int(ProviderKind::HipHosting) << QString() << false << true << u"HipHosting"_qs;
        QTest::newRow("ztv") << int(ProviderKind::Ztv) << QString() << false << true << u"ZTV"_qs;
        QTest::newRow("other") << int(ProviderKind::Other) << u"hetzner"_qs << false << true << u"hetzner"_qs;
        QTest::newRow("absent") << int(ProviderKind::Absent) << QString() << false << false << QString();
    }
    void providerIcon()
    {
        QFETCH(int, provider);
        QFETCH(QString, name);
        QFETCH(bool, badge);
        QFETCH(bool, symbol);
        QQuickItem *row = view().showQml("Row { Text { objectName: \"before\"; text: \"[\" }\n"
                                         " RegionProviderIcon { objectName: \"icon\" }\n"
                                         " Text { objectName: \"after\"; text: \"]\" } }");
        QVERIFY(row);
        QQuickItem *icon = view().find("icon");
        icon->setProperty("provider", provider);
        icon->setProperty("providerName", name);
        QVERIFY(view().waitForFrame());
        QCOMPARE(view().isShown("badge"), badge);
        QCOMPARE(view().isShown("serverSymbol"), symbol);
        if (badge) {
            // The badge image loads (our own SVG), 12 high, padded 5 and 3, on white.
            QCOMPARE(view().value("badgeImage", "status").toInt(), 1); // Image.Ready
            QCOMPARE(view().real("badgeImage", "height"), 12.0);
            QVERIFY(view().real("badgeImage", "width") > 12);
            QCOMPARE(view().real("badge", "height"), 18.0);
            QCOMPARE(view().real("badge", "width"), view().real("badgeImage", "width") + 10);
            QCOMPARE(view().argb("badge"), test::argb(QColor(Qt::white)));
            QCOMPARE(view().real("badge", "radius"), 6.0);
        }
        if (symbol) {
            QCOMPARE(view().value("serverSymbol", "text").toString(), u"dns"_qs);
            QCOMPARE(view().argb("serverSymbol"), test::argb(view().brand().textSecondary()));
            QCOMPARE(icon->height(), 18.0);
        }
        // Absent takes no space: the brackets touch.
        const qreal gap = view().find("after")->x() - (view().find("before")->x() + view().find("before")->width());
        QCOMPARE(gap > 0, badge || symbol);
        if (badge || symbol) {
            const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(icon);
            QVERIFY(a11y);
            QTEST(a11y->text(QAccessible::Name), "accessibleName");
        }
    }

    // The close button and Escape both ask to dismiss, once each.
    void modalChrome_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("close button") << false;
        QTest::newRow("escape") << true;
    }
    void modalChrome()
    {
        QFETCH(bool, escape);
        QQuickItem *chrome = view().showQml("MacModalChrome { width: 460; height: 200; title: \"<i>Подключение</i>\"\n"
                                            " Rectangle { objectName: \"content\"; anchors.fill: parent } }");
        QVERIFY(chrome);
        QVERIFY(QTest::qWaitForWindowActive(view().window()));
        QCOMPARE(view().value("title", "text").toString(), u"<i>Подключение</i>"_qs);
        QCOMPARE(view().value("title", "textFormat").toInt(), 0);
        QCOMPARE(view().value("closeButton", "text").toString(), u"Закрыть"_qs);
        // The header: 24 at the sides, 8 above and below, then a divider, then the content.
        QQuickItem *close = view().find("closeButton");
        QCOMPARE(close->mapToItem(chrome, QPointF(close->width(), 0)).x(), 460.0 - 24);
        QQuickItem *content = view().find("content");
        QCOMPARE(content->mapToItem(chrome, QPointF(0, 0)).y(),
                 view().find("divider")->mapToItem(chrome, QPointF(0, 1)).y());
        QCOMPARE(content->width(), 460.0);

        QSignalSpy dismissed(chrome, SIGNAL(dismissRequested()));
        if (escape)
            QTest::keyClick(view().window(), Qt::Key_Escape);
        else
            QTest::mouseClick(view().window(), Qt::LeftButton, {},
                              close->mapToScene(QPointF(close->width() / 2, close->height() / 2)).toPoint());
        QCOMPARE(dismissed.count(), 1);
    }

    // A sheet opens over its parent, centred, window-modal, at least its minimum
    // size; the close button, Escape and the window manager's close each hide it and
    // report the dismissal once.
    void sheetWindow_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close button") << u"button"_qs;
        QTest::newRow("escape") << u"escape"_qs;
        QTest::newRow("window manager") << u"wm"_qs;
    }
    void sheetWindow()
    {
        QFETCH(QString, how);
        QQuickItem *host = view().showQml(
            "Rectangle { id: home; width: 800; height: 700; color: Brand.background\n"
            " property bool showSheet: false\n"
            " property alias sheet: sheet\n"
            " SheetWindow { id: sheet; transientParent: home.Window.window; title: \"Подключение\"\n"
            "  minimumWidth: 460; minimumHeight: 520; open: home.showSheet\n"
            "  onDismissed: home.showSheet = false\n"
            "  Text { objectName: \"sheetContent\"; text: \"Содержимое\"; anchors.centerIn: parent } } }");
        QVERIFY(host);
        auto *sheet = host->property("sheet").value<QQuickWindow *>();
        QVERIFY(sheet);
        QVERIFY(!sheet->isVisible());
        QSignalSpy dismissed(sheet, SIGNAL(dismissed()));

        host->setProperty("showSheet", true);
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        QCOMPARE(sheet->transientParent(), view().window());
        QCOMPARE(sheet->modality(), Qt::WindowModal);
        QVERIFY(sheet->width() >= 460 && sheet->height() >= 520);
        QCOMPARE(sheet->minimumSize(), QSize(460, 520));
        const QPoint parentCentre = view().window()->geometry().center();
        QVERIFY(qAbs(sheet->geometry().center().x() - parentCentre.x()) <= 1);
        QVERIFY(test::ViewHarness::findIn(sheet->contentItem(), u"sheetContent"_qs));
        QQuickItem *title = test::ViewHarness::findIn(sheet->contentItem(), u"title"_qs);
        QCOMPARE(title->property("text").toString(), u"Подключение"_qs);

        if (how == u"button") {
            QQuickItem *close = test::ViewHarness::findIn(sheet->contentItem(), u"closeButton"_qs);
            QVERIFY(QTest::qWaitForWindowExposed(sheet));
            QTest::mouseClick(sheet, Qt::LeftButton, {},
                              close->mapToScene(QPointF(close->width() / 2, close->height() / 2)).toPoint());
        } else if (how == u"escape") {
            sheet->requestActivate();
            QVERIFY(QTest::qWaitForWindowActive(sheet));
            QTest::keyClick(sheet, Qt::Key_Escape);
        } else {
            sheet->close(); // what the window manager's close button does
        }
        QTRY_VERIFY(!sheet->isVisible());
        QCOMPARE(dismissed.count(), 1);
        QCOMPARE(host->property("showSheet").toBool(), false);

        // The presenter can show it again.
        host->setProperty("showSheet", true);
        QTRY_VERIFY(sheet->isVisible());
        host->setProperty("showSheet", false);
        QTRY_VERIFY(!sheet->isVisible());
        QCOMPARE(dismissed.count(), 1); // closing it from the presenter is not a dismissal
    }
};

QTEST_MAIN(SheetsTest)
#include "vtst_sheets.moc"
