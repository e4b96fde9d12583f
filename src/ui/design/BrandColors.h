#pragma once

#include <QColor>

class QPalette;

namespace kovra::ui {

// The colour tokens for one appearance. Accent, accent deep and amber (and the
// tint) have a light and a dark value; mint and its derivatives are fixed; system
// orange, red and grey take the desktop's usual light or dark shade; the semantic
// colours (background, surface, separator, labels) come from the application
// palette.
//
// The palette only counts when it agrees with the appearance (its window colour
// is dark exactly when the appearance is dark). When the desktop asks for dark
// while the Qt palette is still light (or the other way round), the semantic
// colours fall back to built-in values for that appearance, so that text never
// ends up the colour of its background.
struct BrandColors {
    QColor tint;
    QColor accent;
    QColor accentDeep;
    QColor mint;
    QColor mintSoft;
    QColor amber;
    QColor warning;
    QColor success;
    QColor danger;
    QColor systemGray;
    QColor background;
    QColor surface;
    QColor separator;
    QColor textPrimary;
    QColor textSecondary;
    QColor textTertiary;
    QColor onAccent;

    static BrandColors resolve(bool dark, const QPalette &palette);

    bool operator==(const BrandColors &) const = default;
};

// Whether a palette draws dark windows (its window colour has lightness below half).
bool isDarkPalette(const QPalette &palette);

} // namespace kovra::ui
