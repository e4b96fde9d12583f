import QtQuick
import QtQuick.Layouts
import Kovra.Design

// A symbol before a text in the same font and colour, the pair read as the text.
// Fills the width of its column; the text wraps.
RowLayout {
    id: label

    property string symbol
    property string text
    property font font: Brand.bodyFont
    property color color: Brand.textPrimary

    spacing: 6
    Layout.fillWidth: true
    Accessible.role: Accessible.StaticText
    Accessible.name: text

    SymbolIcon {
        Layout.alignment: Qt.AlignTop
        // Centred on the first line of the text.
        Layout.preferredHeight: title.contentHeight / Math.max(1, title.lineCount)
        name: label.symbol
        size: label.font.pixelSize + 1
        color: label.color
    }
    Text {
        id: title

        objectName: "labelText"
        Layout.fillWidth: true
        text: label.text
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: label.font
        color: label.color
        Accessible.ignored: true
    }
}
