import QtQuick
import QtQuick.Layouts
import Kovra.Design

// The note under a list that could not be refreshed: a warning symbol and `text`,
// read out as one element.
RowLayout {
    id: hint

    property string text

    spacing: 8
    Accessible.role: Accessible.StaticText
    Accessible.name: text

    SymbolIcon {
        objectName: "staleSymbol"
        name: "exclamationmark.triangle.fill"
        size: 16
        color: Brand.warning
        Layout.alignment: Qt.AlignVCenter
    }
    Text {
        objectName: "staleText"
        text: hint.text
        textFormat: Text.PlainText
        font: Brand.captionFont
        color: Brand.textSecondary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
        Layout.alignment: Qt.AlignVCenter
        Accessible.ignored: true
    }
}
