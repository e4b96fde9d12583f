#include "BrandFonts.h"

#include <QStringList>

namespace kovra::ui {

namespace {

const QString kInter = QStringLiteral("Inter");

QFont font(const QString &family, int pixelSize, QFont::Weight weight = QFont::Normal,
           QFont::StyleHint hint = QFont::SansSerif)
{
    QFont f(family);
    if (family == kInter)
        f.setFamilies(QStringList{family, QStringLiteral("DejaVu Sans")});
    f.setStyleHint(hint);
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

BrandFonts build()
{
    BrandFonts f;
    f.largeTitle = font(kInter, 26, QFont::Bold);
    f.title = font(kInter, 17, QFont::DemiBold);
    f.headline = font(kInter, 14, QFont::DemiBold);
    f.body = font(kInter, 14);
    f.callout = font(kInter, 13);
    f.subheadline = font(kInter, 12);
    f.caption = font(kInter, 11);
    f.caption2 = font(kInter, 10);
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
