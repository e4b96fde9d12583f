import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// The picker's small bordered button, tinted: the title (after an optional symbol)
// in the tint colour on a light wash of it.
T.Button {
    id: control

    // A symbol name (see Symbols) before the title; none when empty.
    property string symbol

    font: Brand.withWeight(Brand.subheadlineFont, Font.Medium)
    leftPadding: 10
    rightPadding: 10
    topPadding: 4
    bottomPadding: 4
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    hoverEnabled: true
    Accessible.name: text

    contentItem: RowLayout {
        spacing: 4

        SymbolIcon {
            visible: control.symbol !== ""
            name: control.symbol
            size: control.font.pixelSize + 2
            color: Brand.tint
        }
        Text {
            objectName: "buttonTitle"
            text: control.text
            font: control.font
            textFormat: Text.PlainText
            color: Brand.tint
            verticalAlignment: Text.AlignVCenter
        }
    }

    background: Rectangle {
        radius: 6
        color: Brand.tint
        opacity: control.down ? 0.28 : control.hovered ? 0.2 : 0.14
    }
}
