import QtQuick
import QtQuick.Shapes
import Kovra.Design

// A small indeterminate progress indicator: an open ring turning once a second while
// shown; under reduce motion it stands still.
Item {
    id: spinner

    property real size: 14
    property color color: Brand.textSecondary
    // Shown in a window on screen; no animation runs otherwise.
    readonly property bool onScreen: WindowExposure.exposed

    implicitWidth: size
    implicitHeight: size
    Accessible.role: Accessible.Indicator

    Shape {
        id: ring
        anchors.fill: parent
        layer.enabled: true
        layer.samples: 4

        ShapePath {
            strokeColor: spinner.color
            strokeWidth: 2
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap

            PathAngleArc {
                centerX: spinner.size / 2
                centerY: spinner.size / 2
                radiusX: spinner.size / 2 - 1.5
                radiusY: spinner.size / 2 - 1.5
                startAngle: 0
                sweepAngle: 270
            }
        }

        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 1000
            loops: Animation.Infinite
            running: spinner.visible && spinner.onScreen && !Brand.reduceMotion
        }
    }
}
