import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// A borderless copy control over its `label` ({title, symbol, hint, copied}, from the
// view-model): the symbol and the title in the accent colour as a full-width row of an
// inset section, or the symbol alone (`iconOnly`). The accessible name is the hint.
// When the label turns to "copied" and back it fades in anew (not with reduced motion).
T.AbstractButton {
    id: control

    required property var label
    property bool iconOnly: false
    property bool reduceMotion: Brand.reduceMotion

    readonly property bool copied: label.copied === true

    Layout.fillWidth: !iconOnly
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: Math.max(iconOnly ? 24 : 36, implicitContentHeight + topPadding + bottomPadding)
    leftPadding: iconOnly ? 4 : 12
    rightPadding: iconOnly ? 4 : 12
    topPadding: iconOnly ? 4 : 9
    bottomPadding: iconOnly ? 4 : 9
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus

    Accessible.role: Accessible.Button
    Accessible.name: label.hint
    Accessible.description: iconOnly ? label.title : ""

    onCopiedChanged: if (!reduceMotion) fade.restart()

    NumberAnimation {
        id: fade
        target: labelRow
        property: "opacity"
        from: 0.15
        to: 1
        duration: 250
        easing.type: Easing.OutQuad
    }

    background: Rectangle {
        radius: control.iconOnly ? 6 : 10
        color: Brand.textPrimary
        opacity: control.down ? 0.08 : control.hovered ? 0.04 : 0
    }

    contentItem: Item {
        implicitWidth: labelRow.implicitWidth
        implicitHeight: labelRow.implicitHeight

        Row {
            id: labelRow
            anchors.verticalCenter: parent.verticalCenter
            spacing: 8

            SymbolIcon {
                objectName: "copySymbol"
                anchors.verticalCenter: parent.verticalCenter
                width: 20
                name: control.label.symbol
                size: 16
                color: Brand.accent
            }
            Text {
                objectName: "copyTitle"
                anchors.verticalCenter: parent.verticalCenter
                visible: !control.iconOnly
                text: control.label.title
                textFormat: Text.PlainText
                font: Brand.bodyFont
                color: Brand.accent
            }
        }
    }
}
