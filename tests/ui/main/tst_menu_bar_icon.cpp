#include "ui/design/Appearance.h"
#include "ui/design/Symbols.h"
#include "ui/main/MacMenuBarExtra.h"
#include "ui/main/MenuBarIcon.h"
#include "ui/main/StatusLook.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>

using namespace kovra::ui;

namespace {

// The image of one size, and the lightness of its most opaque pixel (-1: blank).
int inkLightness(const QIcon &icon, int size, QImage *out = nullptr)
{
    const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
    if (out)
        *out = image;
    int bestAlpha = 0, lightness = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > bestAlpha) {
                bestAlpha = c.alpha();
                lightness = c.lightness();
            }
        }
    }
    return bestAlpha >= 200 ? lightness : -1;
}

} // namespace

class MenuBarIconTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every dot state has its own shield, drawn at both sizes in ink that stands out
    // from the desktop: light on a dark one, dark on a light one.
    void symbols()
    {
        QHash<QByteArray, QString> seen;
        for (const auto state : {StatusDotState::Connected, StatusDotState::Transition, StatusDotState::Warning,
                                 StatusDotState::Danger, StatusDotState::Inactive}) {
            const QString symbol = menuBarSymbol(state);
            QVERIFY2(!Symbols::ligature(symbol).isEmpty(), qPrintable(symbol));
            for (const bool dark : {false, true}) {
                const QIcon icon = MenuBarIcon::draw(symbol, dark);
                for (const int size : MenuBarIcon::kSizes) {
                    QImage image;
                    const int lightness = inkLightness(icon, size, &image);
                    QCOMPARE(image.size(), QSize(size, size));
                    QVERIFY2(dark ? lightness > 200 : (lightness >= 0 && lightness < 60), qPrintable(symbol));
                    if (!dark && size == 22) {
                        const QByteArray key(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
                        QVERIFY2(!seen.contains(key), qPrintable(symbol + QStringLiteral(" looks like ") + seen.value(key)));
                        seen.insert(key, symbol);
                    }
                }
            }
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
        QTest::newRow("top bar") << QRect(900, 0, 22, 22) << panel << QPoint(778, 26);
        QTest::newRow("top right corner") << QRect(1890, 2, 22, 22) << panel << QPoint(1656, 28);
        QTest::newRow("bottom bar") << QRect(600, 1050, 22, 30) << panel << QPoint(478, 746);
        QTest::newRow("bottom left, pointer") << QRect(3, 1070, 1, 1) << panel << QPoint(0, 766);
        QTest::newRow("taller than the area") << QRect(900, 0, 22, 22) << QSize(264, 1500) << QPoint(778, 0);
        QTest::newRow("second screen") << QRect(2500, 1000, 22, 22) << panel << QPoint(2378, 696);
    }
    void panelPosition()
    {
        QFETCH(QRect, anchor);
        QFETCH(QSize, size);
        QFETCH(QPoint, expected);
        const QRect available = anchor.x() >= 1920 ? QRect(1920, 0, 1280, 1024) : QRect(0, 0, 1920, 1080);
        QCOMPARE(MacMenuBarExtra::panelPosition(anchor, size, available), expected);
    }
};

QTEST_MAIN(MenuBarIconTest)
#include "tst_menu_bar_icon.moc"
