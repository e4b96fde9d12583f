import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// A rounded panel (radius 16, surface fill) that groups content and fills its
// column; its content is its child. Dark mode adds a hairline separator border; only the Button elevation
// casts a shadow. `padding` is the inner padding on all edges.
T.Pane {
    id: card

    property int elevation: Elevation.Card
    property bool dark: Brand.dark

    padding: 16
    implicitWidth: Math.max(implicitBackgroundWidth, implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight, implicitContentHeight + topPadding + bottomPadding)
    Layout.fillWidth: true

    background: Item {
        BrandShadow {
            objectName: "shadow"
            target: panel
            shapeRadius: 16
            elevation: card.elevation
        }
        Rectangle {
            id: panel
            objectName: "panel"
            anchors.fill: parent
            radius: 16
            color: Brand.surface
        }
        Rectangle {
            objectName: "border"
            anchors.fill: parent
            visible: card.dark
            radius: 16
            color: "transparent"
            border.width: 0.5
            border.color: Brand.separator
        }
    }
}
