#include "ui/design/SheetHost.h"

#include "support/view/PrivateDisplay.h"
#include "support/view/ViewHarness.h"

#include <QGuiApplication>
#include <QQuickWindow>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;

namespace {

kovra::test::PrivateDisplay *display = nullptr;

const QColor kSheetColour(0x1e, 0x90, 0xff);

// What the screen (not the window's own picture) shows below the sheet's header: the
// share of its pixels in the sheet's colour.
double onScreenShare(QQuickWindow *window)
{
    const QRect area = window->geometry().adjusted(60, 80, -60, -60);
    const QImage image = window->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
    if (image.isNull())
        return 0;
    int hits = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4)
            hits += image.pixelColor(x, y) == kSheetColour;
    }
    return hits / double(((image.width() + 3) / 4) * ((image.height() + 3) / 4));
}

} // namespace

class SheetOnScreenTest : public test::ViewTestCase {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (!display->isUp())
            QSKIP(qPrintable(display->problem()));
    }

    // A sheet shows its content on the screen once the window manager has mapped it,
    // whether its window is new or kept from an earlier sheet, and whether something in
    // it animates only while its window is exposed.
    void drawsOnScreen_data()
    {
        QTest::addColumn<bool>("spinner");
        QTest::addColumn<int>("openings");
        QTest::newRow("still") << false << 1;
        QTest::newRow("spinner") << true << 1;
        QTest::newRow("still, reused") << false << 3;
        QTest::newRow("spinner, reused") << true << 3;
    }
    void drawsOnScreen()
    {
        QFETCH(bool, spinner);
        QFETCH(int, openings);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("Content.qml"));
        QFile qml(file);
        QVERIFY(qml.open(QIODevice::WriteOnly));
        qml.write("import QtQuick\nimport Kovra.Design\nRectangle { color: \"" + kSheetColour.name().toLatin1()
                  + "\"; implicitWidth: 460; implicitHeight: 520\n ActivityIndicator { anchors.centerIn: parent; visible: "
                  + (spinner ? "true" : "false") + " } }\n");
        qml.close();
        QVERIFY(view().showQml("Rectangle { width: 780; height: 560; color: \"white\" }"));
        for (int i = 0; i < openings; ++i) {
            auto *host = new SheetHost(view().window(), {QStringLiteral("Лист"), {460, 520}, {}}, &view().engine());
            QPointer<SheetHost> alive(host);
            QCOMPARE(host->open(QUrl::fromLocalFile(file), {}), QString());
            QQuickWindow *sheet = host->window();
            QVERIFY(QTest::qWaitForWindowExposed(sheet));
            QTRY_VERIFY_WITH_TIMEOUT(onScreenShare(sheet) > 0.9, 10000);
            host->dismiss();
            QTRY_VERIFY(!alive);
        }
    }
};

int main(int argc, char **argv)
{
    kovra::test::PrivateDisplay privateDisplay;
    display = &privateDisplay;
    QGuiApplication app(argc, argv);
    SheetOnScreenTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "vtst_sheet_on_screen.moc"
