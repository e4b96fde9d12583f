import QtQuick
import Kovra.Design

// A connection's or region's flags and name as one line ("🇩🇪 Франкфурт"); pairs of
// flags and names joined by " → " are merged pair by pair. Shown verbatim.
Text {
    property string flags
    property string label

    text: Texts.mergedTitle(flags, label)
    textFormat: Text.PlainText
    font: Brand.bodyFont
    color: Brand.textPrimary
}
