#include "BrandFonts.h"

namespace kovra::ui {

namespace {

QFont font(const QString &family, int pixelSize, QFont::Weight weight = QFont::Normal,
           QFont::StyleHint hint = QFont::SansSerif)
{
    QFont f(family);
    f.setStyleHint(hint);
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

BrandFonts build()
{
    const QString inter = QStringLiteral("Inter");
    BrandFonts f;
    f.largeTitle = font(inter, 26, QFont::Bold);
    f.title = font(inter, 17, QFont::DemiBold);
    f.headline = font(inter, 14, QFont::DemiBold);
    f.body = font(inter, 14);
    f.callout = font(inter, 13);
    f.subheadline = font(inter, 12);
    f.caption = font(inter, 11);
    f.caption2 = font(inter, 10);
    f.numeric = font(QStringLiteral("DejaVu Sans"), 14);
    f.mono = font(QStringLiteral("DejaVu Sans Mono"), 11, QFont::Normal, QFont::Monospace);
    return f;
}

} // namespace

const BrandFonts &BrandFonts::instance()
{
    static const BrandFonts fonts = build();
    return fonts;
}

} // namespace kovra::ui
