import QtQuick
import Kovra.Design

// A dot in the colour of `dotState` (see StatusDotState), `size` across. With
// `glow`, a translucent ring (0.35) reaching 0.3 × size beyond the dot and a soft
// glow of the same colour (0.5, radius size / 2); neither changes the dot's own
// size. Hidden from screen readers: the text beside it carries the meaning.
Item {
    id: dot

    property int dotState: StatusDotState.Inactive
    property real size: 10
    property bool glow: false

    // No `??` here: Qt 6.4's compiled bindings read a colour in a list as null.
    readonly property color tone: dotState >= 0 && dotState < Brand.statusColors.length
                                  ? Brand.statusColors[dotState] : Brand.textSecondary

    implicitWidth: size
    implicitHeight: size
    Accessible.ignored: true

    BrandShadow {
        objectName: "glow"
        target: ring
        shapeRadius: ring.radius
        color: Qt.rgba(dot.tone.r, dot.tone.g, dot.tone.b, 0.5)
        glowRadius: dot.size * 0.5
        visible: dot.glow
    }
    Rectangle {
        objectName: "disc"
        anchors.centerIn: parent
        width: dot.size
        height: dot.size
        radius: dot.size / 2
        color: dot.tone
    }
    Rectangle {
        id: ring
        objectName: "ring"
        anchors.centerIn: parent
        visible: dot.glow
        // A stroke of 0.6 × size centred on the dot's outline.
        width: dot.size * 1.6
        height: width
        radius: width / 2
        color: "transparent"
        border.width: dot.size * 0.6
        border.color: Qt.rgba(dot.tone.r, dot.tone.g, dot.tone.b, 0.35)
    }
}
