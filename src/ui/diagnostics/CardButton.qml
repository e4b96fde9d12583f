import QtQuick
import QtQuick.Templates as T
import Kovra.Design

// The small bordered button of the report cards: the label (with an optional
// symbol) in the accent colour on a faint accent fill with a hairline border.
T.Button {
    id: control

    // A symbol name (see Symbols) before the label; none when empty.
    property string symbol

    font: Brand.subheadlineFont
    leftPadding: 10
    rightPadding: 10
    topPadding: 4
    bottomPadding: 4
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    opacity: enabled ? 1.0 : 0.5
    Accessible.name: text

    contentItem: Row {
        spacing: 4

        SymbolIcon {
            objectName: "symbol"
            visible: control.symbol !== ""
            name: control.symbol
            size: control.font.pixelSize + 1
            color: Brand.tint
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            objectName: "label"
            text: control.text
            font: control.font
            textFormat: Text.PlainText
            color: Brand.tint
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    background: Rectangle {
        radius: 6
        color: Qt.rgba(Brand.tint.r, Brand.tint.g, Brand.tint.b, control.down ? 0.22 : 0.1)
        border.width: 0.5
        border.color: Brand.separator
    }
}
