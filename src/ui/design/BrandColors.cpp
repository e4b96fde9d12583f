#include "BrandColors.h"

#include <QPalette>

namespace kovra::ui {

namespace {

QColor rgb(QRgb value) { return QColor::fromRgb(value); }

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

struct Semantic {
    QColor background, surface, separator, textPrimary, textSecondary, textTertiary;
};

// Label shades are the text colour at lower opacities.
Semantic fromPalette(const QPalette &palette, bool dark)
{
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    return {palette.color(QPalette::Active, QPalette::Window),
            palette.color(QPalette::Active, QPalette::Base),
            withAlpha(text, dark ? 0.16 : 0.12),
            text,
            withAlpha(text, dark ? 0.55 : 0.5),
            withAlpha(text, dark ? 0.25 : 0.26)};
}

Semantic builtIn(bool dark)
{
    if (dark) {
        const QColor white(Qt::white);
        return {rgb(0xFF323232), rgb(0xFF1E1E1E), withAlpha(white, 0.16), withAlpha(white, 0.85),
                withAlpha(white, 0.55), withAlpha(white, 0.25)};
    }
    const QColor black(Qt::black);
    return {rgb(0xFFECECEC), rgb(0xFFFFFFFF), withAlpha(black, 0.12), withAlpha(black, 0.85),
            withAlpha(black, 0.5), withAlpha(black, 0.26)};
}

} // namespace

bool isDarkPalette(const QPalette &palette)
{
    return palette.color(QPalette::Active, QPalette::Window).lightness() < 128;
}

BrandColors BrandColors::resolve(bool dark, const QPalette &palette)
{
    const auto pick = [dark](QRgb light, QRgb darkValue) { return rgb(dark ? darkValue : light); };
    const Semantic semantic = isDarkPalette(palette) == dark ? fromPalette(palette, dark) : builtIn(dark);

    BrandColors c;
    c.accent = pick(0xFF7C5CFC, 0xFF9B82FF);
    c.tint = c.accent;
    c.accentDeep = pick(0xFF5B3FE0, 0xFF6F4FF0);
    c.mint = rgb(0xFF22D3A8);
    c.mintSoft = withAlpha(c.mint, 0.55);
    c.amber = pick(0xFFFF9F0A, 0xFFFFA31A);
    c.warning = pick(0xFFFF9500, 0xFFFF9F0A);
    c.success = c.mint;
    c.danger = pick(0xFFFF3B30, 0xFFFF453A);
    c.systemGray = pick(0xFF8E8E93, 0xFF98989D);
    c.background = semantic.background;
    c.surface = semantic.surface;
    c.separator = semantic.separator;
    c.textPrimary = semantic.textPrimary;
    c.textSecondary = semantic.textSecondary;
    c.textTertiary = semantic.textTertiary;
    c.onAccent = QColor(Qt::white);
    return c;
}

} // namespace kovra::ui
