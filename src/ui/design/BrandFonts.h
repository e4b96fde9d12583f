#pragma once

#include <QFont>

namespace kovra::ui {

// The text styles of the design system. Sizes are in device-independent pixels,
// which is the unit of every geometry in the components:
//
//   token            family             size  weight     used for
//   largeTitleFont   Inter              26    bold       screen titles
//   titleFont        Inter              17    semibold   section titles (title 2)
//   headlineFont     Inter              14    semibold   button labels, card headings
//   bodyFont         Inter              14    regular    running text
//   calloutFont      Inter              13    regular    secondary running text
//   subheadlineFont  Inter              12    regular    rows, hints
//   captionFont      Inter              11    regular    notices, tags, footers
//   caption2Font     Inter              10    regular    badges
//   numericFont      DejaVu Sans        14    regular    live figures (tabular digits)
//   monoFont         DejaVu Sans Mono   11    regular    reports, identifiers (footnote)
//
// Symbols Inter lacks come from DejaVu Sans before any face the system would pick,
// so that the automatic route's "⚡" draws as a plain glyph in the text colour and
// never as a colour emoji; flags, which DejaVu Sans lacks, still fall through to the
// system's colour emoji face.
//
// Inter draws proportional digits unless its "tnum" feature is on, and Qt 6.4
// cannot switch font features, so figures that must not jiggle use DejaVu Sans,
// whose digits all share one advance.
struct BrandFonts {
    QFont largeTitle;
    QFont title;
    QFont headline;
    QFont body;
    QFont callout;
    QFont subheadline;
    QFont caption;
    QFont caption2;
    QFont numeric;
    QFont mono;

    // Built on first use and shared afterwards.
    static const BrandFonts &instance();
};

} // namespace kovra::ui
