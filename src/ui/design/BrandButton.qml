import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// The call-to-action button. Primary: accent gradient, white label, a shadow while
// enabled. Secondary: surface fill, label-coloured text, hairline border.
// Destructive: red fill, white label. Pressed: the fill dims (0.85, secondary 0.7)
// and the button shrinks to 0.97, both eased over 0.12 s; with reduced motion the
// fill changes at once and nothing scales. Disabled: the whole button at 0.5.
// `fullWidth` stretches it across its layout cell; otherwise it is as wide as its
// label (and its symbol) plus 24 on each side.
T.Button {
    id: control

    property int kind: ButtonKind.Primary
    property bool fullWidth: false
    property bool reduceMotion: Brand.reduceMotion
    // A symbol name (see Symbols) drawn before the label in its colour; none when empty.
    property string symbol

    readonly property bool secondary: kind === ButtonKind.Secondary
    readonly property real fillOpacity: down ? (secondary ? 0.7 : 0.85) : 1.0

    font: Brand.headlineFont
    topPadding: 14
    bottomPadding: 14
    leftPadding: 24
    rightPadding: 24
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    Layout.fillWidth: fullWidth
    opacity: enabled ? 1.0 : 0.5
    scale: down && !reduceMotion ? 0.97 : 1.0
    Accessible.name: text

    Behavior on scale {
        enabled: !control.reduceMotion
        NumberAnimation { duration: 120; easing.type: Easing.OutQuad }
    }

    contentItem: Item {
        readonly property real symbolSpace: symbolIcon.visible ? symbolIcon.implicitWidth + 6 : 0
        readonly property real groupX: Math.round((width - symbolSpace - label.width) / 2)

        implicitWidth: symbolSpace + label.implicitWidth
        implicitHeight: Math.max(symbolIcon.visible ? symbolIcon.implicitHeight : 0, label.implicitHeight)

        SymbolIcon {
            id: symbolIcon
            objectName: "symbol"
            visible: control.symbol !== ""
            name: control.symbol
            size: control.font.pixelSize + 2
            color: label.color
            x: parent.groupX
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            id: label
            objectName: "label"
            x: parent.groupX + parent.symbolSpace
            width: Math.min(implicitWidth, parent.width - parent.symbolSpace)
            height: parent.height
            text: control.text
            font: control.font
            textFormat: Text.PlainText
            color: control.secondary ? Brand.textPrimary : Brand.onAccent
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
            elide: Text.ElideRight
        }
    }

    background: Item {
        BrandShadow {
            objectName: "shadow"
            target: fill
            shapeRadius: 12
            elevation: control.kind === ButtonKind.Primary && control.enabled ? Elevation.Button : Elevation.None
        }
        Item {
            id: fill
            objectName: "fill"
            anchors.fill: parent
            opacity: control.fillOpacity

            Behavior on opacity {
                enabled: !control.reduceMotion
                NumberAnimation { duration: 120; easing.type: Easing.OutQuad }
            }

            DiagonalGradient {
                objectName: "gradient"
                anchors.fill: parent
                visible: control.kind === ButtonKind.Primary
                radius: 12
                startColor: Brand.accent
                endColor: Brand.accentDeep
            }
            Rectangle {
                objectName: "solid"
                anchors.fill: parent
                visible: control.kind !== ButtonKind.Primary
                radius: 12
                color: control.secondary ? Brand.surface : Brand.danger
            }
        }
        Rectangle {
            objectName: "border"
            anchors.fill: parent
            visible: control.secondary
            radius: 12
            color: "transparent"
            border.width: 0.5
            border.color: Brand.separator
        }
    }
}
