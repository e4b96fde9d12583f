import QtQuick
import QtQuick.Templates as T
import Kovra.Design

// A plain footer action of the menu-bar panel: a symbol and a label in the caption
// font, secondary text colour (primary while the pointer is over it), no chrome.
T.Button {
    id: control

    property string symbol

    font: Brand.captionFont
    padding: 2
    leftPadding: 0
    rightPadding: 0
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    focusPolicy: Qt.NoFocus
    hoverEnabled: true
    Accessible.role: Accessible.Button
    Accessible.name: text

    contentItem: Row {
        spacing: 6

        SymbolIcon {
            name: control.symbol
            size: control.font.pixelSize + 3
            color: label.color
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            id: label
            text: control.text
            font: control.font
            textFormat: Text.PlainText
            color: control.hovered ? Brand.textPrimary : Brand.textSecondary
            anchors.verticalCenter: parent.verticalCenter
        }
    }
}
