#include "ui/design/Appearance.h"
#include "ui/design/Brand.h"
#include "ui/design/BrandColors.h"

#include <QEvent>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPalette>
#include <QSignalSpy>
#include <QTest>

using namespace kovra::ui;

namespace {

QPalette palette(QRgb window, QRgb base, QRgb text)
{
    QPalette p;
    p.setColor(QPalette::Window, QColor::fromRgb(window));
    p.setColor(QPalette::Base, QColor::fromRgb(base));
    p.setColor(QPalette::WindowText, QColor::fromRgb(text));
    return p;
}

const QPalette kLightPalette = palette(0xFFEFEFEF, 0xFFFAFAFA, 0xFF101010);
const QPalette kDarkPalette = palette(0xFF2A2A2A, 0xFF181818, 0xFFF0F0F0);

QColor rgb(QRgb v) { return QColor::fromRgb(v); }

QColor alpha(QColor c, qreal a)
{
    c.setAlphaF(float(a));
    return c;
}

} // namespace

class BrandTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void colors_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QPalette>("palette");
        QTest::addColumn<QColor>("accent");
        QTest::addColumn<QColor>("accentDeep");
        QTest::addColumn<QColor>("amber");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("textPrimary");
        QTest::addColumn<QColor>("textSecondary");

        QTest::newRow("light on a light palette") << false << kLightPalette << rgb(0xFF7C5CFC) << rgb(0xFF5B3FE0)
                                                  << rgb(0xFFFF9F0A) << rgb(0xFFEFEFEF) << rgb(0xFF101010)
                                                  << alpha(rgb(0xFF101010), 0.5);
        QTest::newRow("dark on a dark palette") << true << kDarkPalette << rgb(0xFF9B82FF) << rgb(0xFF6F4FF0)
                                                << rgb(0xFFFFA31A) << rgb(0xFF2A2A2A) << rgb(0xFFF0F0F0)
                                                << alpha(rgb(0xFFF0F0F0), 0.55);
        // The desktop asks for dark while Qt's palette is still light: the semantic
        // colours must not keep the palette's dark text on a dark window.
        QTest::newRow("dark on a light palette") << true << kLightPalette << rgb(0xFF9B82FF) << rgb(0xFF6F4FF0)
                                                 << rgb(0xFFFFA31A) << rgb(0xFF323232)
                                                 << alpha(QColor(Qt::white), 0.85) << alpha(QColor(Qt::white), 0.55);
        QTest::newRow("light on a dark palette") << false << kDarkPalette << rgb(0xFF7C5CFC) << rgb(0xFF5B3FE0)
                                                 << rgb(0xFFFF9F0A) << rgb(0xFFECECEC)
                                                 << alpha(QColor(Qt::black), 0.85) << alpha(QColor(Qt::black), 0.5);
    }
    void colors()
    {
        QFETCH(bool, dark);
        QFETCH(QPalette, palette);
        const BrandColors c = BrandColors::resolve(dark, palette);
        QTEST(c.accent, "accent");
        QTEST(c.accentDeep, "accentDeep");
        QTEST(c.amber, "amber");
        QTEST(c.background, "background");
        QTEST(c.textPrimary, "textPrimary");
        QTEST(c.textSecondary, "textSecondary");
        // Fixed in both appearances.
        QCOMPARE(c.mint, rgb(0xFF22D3A8));
        QCOMPARE(c.success, c.mint);
        QCOMPARE(c.mintSoft, alpha(c.mint, 0.55));
        QCOMPARE(c.onAccent, QColor(Qt::white));
        QCOMPARE(c.tint, c.accent);
        // The surface differs from the window so that cards stand out.
        QVERIFY(c.surface != c.background);
        QVERIFY(c.textTertiary.alphaF() < c.textSecondary.alphaF());
    }

    // One Brand follows its appearance and the palette: the same object, new values.
    void followsAppearanceAndPalette()
    {
        const QPalette saved = QGuiApplication::palette();
        QGuiApplication::setPalette(kLightPalette);
        Appearance appearance;
        Brand brand(&appearance);
        QSignalSpy colors(&brand, &Brand::colorsChanged);
        QSignalSpy dark(&brand, &Brand::darkChanged);
        QSignalSpy motion(&brand, &Brand::reduceMotionChanged);
        QCOMPARE(brand.accent(), rgb(0xFF7C5CFC));
        QCOMPARE(brand.background(), rgb(0xFFEFEFEF));

        appearance.setDark(true);
        QCOMPARE(dark.count(), 1);
        QCOMPARE(colors.count(), 1);
        QVERIFY(brand.isDark());
        QCOMPARE(brand.accent(), rgb(0xFF9B82FF));
        QCOMPARE(brand.accentDeep(), rgb(0xFF6F4FF0));
        QCOMPARE(brand.amber(), rgb(0xFFFFA31A));

        appearance.setDark(true); // no change, no signal
        QCOMPARE(colors.count(), 1);

        // A dark palette arriving later takes over the semantic colours.
        QGuiApplication::setPalette(kDarkPalette);
        QCOMPARE(colors.count(), 2);
        QCOMPARE(brand.background(), rgb(0xFF2A2A2A));
        QCOMPARE(brand.textPrimary(), rgb(0xFFF0F0F0));

        appearance.setReduceMotion(true);
        QCOMPARE(motion.count(), 1);
        QVERIFY(brand.reduceMotion());
        QCOMPARE(colors.count(), 2);
        QGuiApplication::setPalette(saved);
    }

    void statusAndToneTables()
    {
        Appearance appearance;
        Brand brand(&appearance);
        const BrandColors &c = brand.colors();
        const QList<QColor> status{c.success, c.amber, c.warning, c.danger, c.textSecondary};
        for (int i = 0; i < status.size(); ++i) {
            QCOMPARE(brand.statusColor(StatusDotState::Value(i)), status[i]);
            QCOMPARE(brand.statusColors().at(i).value<QColor>(), status[i]);
        }
        const QList<QColor> tones{c.accent, c.warning, c.danger};
        const QStringList symbols{"arrow.triangle.2.circlepath", "exclamationmark.triangle.fill",
                                  "exclamationmark.octagon.fill"};
        for (int i = 0; i < tones.size(); ++i) {
            QCOMPARE(brand.toneColors().at(i).value<QColor>(), tones[i]);
            QCOMPARE(brand.toneSymbol(i), symbols[i]);
        }
    }

    void shadows_data()
    {
        QTest::addColumn<int>("elevation");
        QTest::addColumn<qreal>("opacity");
        QTest::addColumn<qreal>("radius");
        QTest::addColumn<qreal>("y");
        QTest::newRow("none") << int(Elevation::None) << 0.0 << 0.0 << 0.0;
        QTest::newRow("card") << int(Elevation::Card) << 0.0 << 0.0 << 0.0;
        QTest::newRow("button") << int(Elevation::Button) << 0.12 << 10.0 << 4.0;
        QTest::newRow("sheet") << int(Elevation::Sheet) << 0.0 << 0.0 << 0.0;
    }
    void shadows()
    {
        QFETCH(int, elevation);
        QFETCH(qreal, opacity);
        const ShadowStyle s = Brand::shadowStyle(Elevation::Value(elevation));
        QCOMPARE(s.color.rgb() & 0xFFFFFFu, 0u); // black
        QVERIFY(qAbs(s.color.alphaF() - opacity) < 0.001);
        QTEST(s.radius, "radius");
        QTEST(s.y, "y");
        QCOMPARE(s.x, 0.0);
    }

    // Numbers that must not jiggle draw every digit with one advance; the monospaced
    // font is fixed-pitch; the text styles resolve to Inter.
    void fonts()
    {
        Appearance appearance;
        Brand brand(&appearance);
        const QFontMetricsF numeric(brand.numericFont());
        const qreal zero = numeric.horizontalAdvance(u'0');
        for (char16_t d = u'1'; d <= u'9'; ++d)
            QCOMPARE(numeric.horizontalAdvance(QChar(d)), zero);
        QVERIFY(QFontInfo(brand.monoFont()).fixedPitch());
        for (const QFont &f : {brand.largeTitleFont(), brand.titleFont(), brand.headlineFont(), brand.bodyFont(),
                               brand.calloutFont(), brand.subheadlineFont(), brand.captionFont()})
            QCOMPARE(QFontInfo(f).family(), QStringLiteral("Inter"));
        QCOMPARE(brand.largeTitleFont().weight(), QFont::Bold);
        QCOMPARE(brand.titleFont().weight(), QFont::DemiBold);
        QVERIFY(brand.largeTitleFont().pixelSize() > brand.titleFont().pixelSize());
        QVERIFY(brand.bodyFont().pixelSize() > brand.captionFont().pixelSize());
    }
};

QTEST_MAIN(BrandTest)
#include "tst_brand.moc"
