#include "ui/design/Appearance.h"
#include "ui/main/MenuBarExtra.h"
#include "ui/main/MenuBarIcon.h"
#include "ui/main/StatusLook.h"
#include "ui/main/WindowPlacement.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>

using namespace kovra::ui;

namespace {

// The lightness of the most opaque pixel of the image of one size (-1: blank).
int inkLightness(const QIcon &icon, int size)
{
    const QImage image = icon.pixmap(size, size).toImage();
    QColor ink(Qt::transparent);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).alpha() > ink.alpha())
                ink = image.pixelColor(x, y);
        }
    }
    return ink.alpha() >= 200 ? ink.lightness() : -1;
}

} // namespace

class MenuBarIconTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every dot state has its own shield, drawn at both sizes in ink that stands out
    // from the desktop: light on a dark one, dark on a light one.
    void symbols()
    {
        QList<QImage> seen;
        for (const auto state : {StatusDotState::Connected, StatusDotState::Transition, StatusDotState::Warning,
                                 StatusDotState::Danger, StatusDotState::Inactive}) {
            const QString symbol = menuBarSymbol(state);
            for (const bool dark : {false, true}) {
                const QIcon icon = MenuBarIcon::draw(symbol, dark);
                QCOMPARE(icon.availableSizes(), (QList<QSize>{{22, 22}, {44, 44}}));
                for (const int size : MenuBarIcon::kSizes) {
                    const int lightness = inkLightness(icon, size);
                    QVERIFY2(dark ? lightness > 200 : (lightness >= 0 && lightness < 60), qPrintable(symbol));
                }
            }
            const QImage image = MenuBarIcon::draw(symbol, false).pixmap(22, 22).toImage();
            QVERIFY2(!seen.contains(image), qPrintable(symbol));
            seen << image;
        }
    }

    // Drawn again only for another symbol or another appearance.
    void redrawsOnlyOnChange()
    {
        Appearance appearance;
        MenuBarIcon icon(&appearance);
        QSignalSpy changed(&icon, &MenuBarIcon::iconChanged);
        icon.setSymbol(menuBarSymbol(StatusDotState::Inactive));
        const qint64 first = icon.icon().cacheKey();
        icon.setSymbol(menuBarSymbol(StatusDotState::Inactive));
        appearance.setDark(false);
        appearance.setReduceMotion(true);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(icon.icon().cacheKey(), first);
        appearance.setDark(true);
        QCOMPARE(changed.count(), 2);
        QVERIFY(inkLightness(icon.icon(), 22) > 200);
        icon.setSymbol(menuBarSymbol(StatusDotState::Connected));
        QCOMPARE(changed.count(), 3);
    }

    // Centred on the icon, on the side of the screen's middle, kept inside the area.
    void panelPosition_data()
    {
        QTest::addColumn<QRect>("anchor");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("expected");
        const QSize panel(264, 300);
        QTest::newRow("top right corner") << QRect(1890, 2, 22, 22) << panel << QPoint(1656, 28);
        QTest::newRow("bottom bar") << QRect(600, 1050, 22, 30) << panel << QPoint(478, 746);
        QTest::newRow("bottom left, pointer") << QRect(3, 1070, 1, 1) << panel << QPoint(0, 766);
        QTest::newRow("taller than the area") << QRect(900, 0, 22, 22) << QSize(264, 1500) << QPoint(778, 0);
    }
    void panelPosition()
    {
        QFETCH(QRect, anchor);
        QFETCH(QSize, size);
        QTEST(MenuBarExtra::panelPosition(anchor, size, QRect(0, 0, 1920, 1080)), "expected");
    }

    // A window opened over another (the settings window over the main one) stays inside
    // the area, here an 800-pixel screen below a 27-pixel top bar.
    void centredWindow_data()
    {
        QTest::addColumn<QRect>("over");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("expected");
        const QSize settings(540, 657);
        QTest::newRow("fits") << QRect(250, 100, 780, 600) << settings << QPoint(370, 72);
        QTest::newRow("main window low") << QRect(300, 240, 780, 560) << settings << QPoint(420, 143);
        QTest::newRow("taller than the area") << QRect(300, 240, 780, 560) << QSize(540, 900) << QPoint(420, 27);
    }
    void centredWindow()
    {
        QFETCH(QRect, over);
        QFETCH(QSize, size);
        QFETCH(QPoint, expected);
        QCOMPARE(centredOn(over, size, QRect(0, 27, 1280, 773)), expected);
    }
};

QTEST_MAIN(MenuBarIconTest)
#include "tst_menu_bar_icon.moc"
