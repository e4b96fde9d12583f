#include "ui/design/Appearance.h"
#include "ui/design/Brand.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPalette>
#include <QSignalSpy>
#include <QTest>

using namespace kovra::ui;

namespace {

QPalette palette(QRgb window, QRgb text)
{
    QPalette p;
    p.setColor(QPalette::Window, QColor::fromRgb(window));
    p.setColor(QPalette::Base, QColor::fromRgb(window).lighter(110));
    p.setColor(QPalette::WindowText, QColor::fromRgb(text));
    return p;
}

const QPalette kLight = palette(0xFFEFEFEF, 0xFF101010);
const QPalette kDark = palette(0xFF2A2A2A, 0xFFF0F0F0);

QColor rgb(QRgb v, qreal alpha = 1)
{
    QColor c = QColor::fromRgb(v);
    c.setAlphaF(float(alpha));
    return c;
}

} // namespace

class BrandTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The palette's window and text colours carry over; the accents are fixed tokens.
    void colors_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QPalette>("palette");
        QTest::addColumn<QList<QColor>>("expected"); // background, textPrimary, textSecondary
        QTest::newRow("light, light palette")
            << false << kLight << QList<QColor>{rgb(0xFFEFEFEF), rgb(0xFF101010), rgb(0xFF101010, 0.5)};
        QTest::newRow("dark, dark palette")
            << true << kDark << QList<QColor>{rgb(0xFF2A2A2A), rgb(0xFFF0F0F0), rgb(0xFFF0F0F0, 0.55)};
        // The desktop asks for dark while Qt's palette is still light: the palette's
        // dark text must not land on a dark window.
        QTest::newRow("dark, light palette")
            << true << kLight << QList<QColor>{rgb(0xFF323232), rgb(0xFFFFFFFF, 0.85), rgb(0xFFFFFFFF, 0.55)};
    }
    void colors()
    {
        QFETCH(bool, dark);
        QFETCH(QPalette, palette);
        const BrandColors c = BrandColors::resolve(dark, palette);
        QTEST((QList<QColor>{c.background, c.textPrimary, c.textSecondary}), "expected");
        QCOMPARE(c.success, c.mint);
        QVERIFY(c.surface != c.background);
    }

    // One Brand follows its appearance and the palette: the same object, new values,
    // one change signal per real change.
    void followsAppearanceAndPalette()
    {
        const QPalette saved = QGuiApplication::palette();
        QGuiApplication::setPalette(kLight);
        Appearance appearance;
        Brand brand(&appearance);
        QSignalSpy colors(&brand, &Brand::colorsChanged);
        QCOMPARE(brand.accent(), rgb(0xFF7C5CFC));

        appearance.setDark(true);
        appearance.setDark(true);
        QCOMPARE(colors.count(), 1);
        QCOMPARE(brand.accent(), rgb(0xFF9B82FF));
        QCOMPARE(brand.statusColor(StatusDotState::Transition), rgb(0xFFFFA31A));

        QGuiApplication::setPalette(kDark); // a dark palette arriving later takes over
        QCOMPARE(colors.count(), 2);
        QCOMPARE(brand.background(), rgb(0xFF2A2A2A));

        appearance.setReduceMotion(true);
        QVERIFY(brand.reduceMotion());
        QCOMPARE(colors.count(), 2);
        QGuiApplication::setPalette(saved);
    }

    // Figures that must not jiggle draw every digit with one advance; the
    // monospaced font is fixed-pitch; the text styles are Inter.
    void fonts()
    {
        Brand brand(nullptr);
        const QFontMetricsF numeric(brand.numericFont());
        for (char16_t d = u'1'; d <= u'9'; ++d)
            QCOMPARE(numeric.horizontalAdvance(QChar(d)), numeric.horizontalAdvance(u'0'));
        QVERIFY(QFontInfo(brand.monoFont()).fixedPitch());
        for (const QFont &f : {brand.largeTitleFont(), brand.titleFont(), brand.headlineFont(), brand.bodyFont(),
                               brand.captionFont()})
            QCOMPARE(QFontInfo(f).family(), QStringLiteral("Inter"));
    }
};

QTEST_MAIN(BrandTest)
#include "tst_brand.moc"
