#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using test::argb;

class SheetsTest : public test::ViewTestCase {
    Q_OBJECT
private Q_SLOTS:
    void providerIcon_data()
    {
        QTest::addColumn<int>("provider");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown"); // "badge", "symbol" or ""
        QTest::addColumn<QString>("accessibleName");
        QTest::newRow("gcp") << int(ProviderKind::Gcp) << QString() << "badge" << u"Google Cloud"_qs;
        QTest::newRow("hiphosting") << int(ProviderKind::HipHosting) << QString() << "symbol" << u"HipHosting"_qs;
        QTest::newRow("other") << int(ProviderKind::Other) << u"hetzner"_qs << "symbol" << u"hetzner"_qs;
        QTest::newRow("absent") << int(ProviderKind::Absent) << QString() << "" << QString();
    }
    void providerIcon()
    {
        QFETCH(int, provider);
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QVERIFY(view().showQml("Row { Text { objectName: \"before\"; text: \"[\" }\n"
                               " RegionProviderIcon { objectName: \"icon\"; provider: " + QByteArray::number(provider)
                               + "; providerName: \"" + name.toUtf8() + "\" }\n"
                                 " Text { objectName: \"after\"; text: \"]\" } }"));
        QQuickItem *icon = view().find("icon");
        QCOMPARE(view().isShown("badge"), shown == u"badge");
        QCOMPARE(view().isShown("serverSymbol"), shown == u"symbol");
        if (shown == u"badge") {
            // Our own SVG, 12 high, padded 5 and 3, on white with radius 6.
            QCOMPARE(view().value("badgeImage", "status").toInt(), 1); // ready
            QVERIFY(view().real("badgeImage", "width") > 12);
            QCOMPARE(view().real("badge", "width"), view().real("badgeImage", "width") + 10);
            QCOMPARE(view().real("badge", "height"), 18.0);
            QCOMPARE(view().argb("badge"), argb(Qt::white));
        } else if (shown == u"symbol") {
            QCOMPARE(view().value("serverSymbol", "text").toString(), u"dns"_qs);
            QCOMPARE(view().argb("serverSymbol"), argb(view().brand().textSecondary()));
            QCOMPARE(icon->height(), 18.0);
        }
        // Absent takes no space: the brackets touch.
        QQuickItem *before = view().find("before");
        QCOMPARE(view().find("after")->x() > before->x() + before->width(), !shown.isEmpty());
        if (!shown.isEmpty())
            QTEST(QAccessible::queryAccessibleInterface(icon)->text(QAccessible::Name), "accessibleName");
    }

    // The title verbatim, the close button 24 from the edge, the content under the
    // divider. (Its dismissal requests: through SheetWindow below.)
    void modalChrome()
    {
        QQuickItem *chrome = view().showQml("ModalChrome { width: 460; height: 200; title: \"<i>Подключение</i>\"\n"
                                            " Rectangle { objectName: \"content\"; anchors.fill: parent } }");
        QVERIFY(chrome);
        QCOMPARE(view().value("title", "text").toString(), u"<i>Подключение</i>"_qs);
        QCOMPARE(view().value("title", "textFormat").toInt(), int(Qt::PlainText));
        QCOMPARE(view().value("closeButton", "text").toString(), u"Закрыть"_qs);
        QQuickItem *close = view().find("closeButton");
        QCOMPARE(close->mapToItem(chrome, QPointF(close->width(), 0)).x(), 460.0 - 24);
        QCOMPARE(view().find("content")->mapToItem(chrome, QPointF(0, 0)).y(),
                 view().find("divider")->mapToItem(chrome, QPointF(0, 1)).y());
    }

    // A sheet opens over its parent, centred, window-modal, at least its minimum size;
    // the close button, Escape and the window manager's close each hide it and report
    // one dismissal, which resets the presenter's flag.
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
        QQuickItem *home = view().showQml(
            "Rectangle { id: home; width: 800; height: 700\n"
            " property bool showSheet: false\n"
            " property alias sheet: sheet\n"
            " SheetWindow { id: sheet; transientParent: home.Window.window; title: \"Подключение\"\n"
            "  minimumWidth: 460; minimumHeight: 520; open: home.showSheet\n"
            "  onDismissed: home.showSheet = false\n"
            "  Text { objectName: \"sheetContent\"; text: \"Содержимое\" } } }");
        QVERIFY(home);
        auto *sheet = home->property("sheet").value<QQuickWindow *>();
        QVERIFY(!sheet->isVisible());
        QSignalSpy dismissed(sheet, SIGNAL(dismissed()));

        home->setProperty("showSheet", true);
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        QCOMPARE(sheet->transientParent(), view().window());
        QCOMPARE(sheet->modality(), Qt::WindowModal);
        QCOMPARE(sheet->minimumSize(), QSize(460, 520));
        QVERIFY(sheet->width() >= 460 && sheet->height() >= 520);
        QVERIFY(qAbs(sheet->geometry().center().x() - view().window()->geometry().center().x()) <= 1);
        QVERIFY(test::ViewHarness::findIn(sheet->contentItem(), u"sheetContent"_qs));

        if (how == u"button") {
            test::clickCentre(sheet, test::ViewHarness::findIn(sheet->contentItem(), u"closeButton"_qs));
        } else if (how == u"escape") {
            // Keys reach the window that holds the focus. qWaitForWindowActive() will not
            // do here: a window counts as active while its transient parent holds the
            // focus, so it returns before the sheet's own activation has arrived.
            QTRY_VERIFY(QGuiApplication::focusWindow() == sheet);
            QTest::keyClick(sheet, Qt::Key_Escape);
        } else {
            sheet->close();
        }
        QTRY_VERIFY(!sheet->isVisible());
        QCOMPARE(dismissed.count(), 1);
        QCOMPARE(home->property("showSheet").toBool(), false);

        // Shown again, then closed by the presenter: not a dismissal.
        home->setProperty("showSheet", true);
        QTRY_VERIFY(sheet->isVisible());
        home->setProperty("showSheet", false);
        QVERIFY(!sheet->isVisible());
        QCOMPARE(dismissed.count(), 1);
    }
};

QTEST_MAIN(SheetsTest)
#include "vtst_sheets.moc"
