import QtQuick
import QtQuick.Shapes
import Kovra.Design

// A small indeterminate progress indicator: a three-quarter ring in `color`, turning
// once a second while visible; still with reduce motion on.
Item {
    id: spinner

    property real size: 16
    property color color: Brand.textSecondary
    property bool reduceMotion: Brand.reduceMotion
    // Shown in a window on screen; no animation runs otherwise.
    readonly property bool onScreen: WindowExposure.exposed

    implicitWidth: size
    implicitHeight: size
    Accessible.role: Accessible.Animation

    Shape {
        id: ring
        anchors.fill: parent
        antialiasing: true

        ShapePath {
            strokeColor: spinner.color
            strokeWidth: Math.max(1.5, spinner.size / 8)
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap

            PathAngleArc {
                centerX: spinner.size / 2
                centerY: spinner.size / 2
                radiusX: spinner.size / 2 - 1.5
                radiusY: spinner.size / 2 - 1.5
                startAngle: -90
                sweepAngle: 270
            }
        }

        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 1000
            loops: Animation.Infinite
            running: spinner.visible && spinner.onScreen && !spinner.reduceMotion
        }
    }
}
