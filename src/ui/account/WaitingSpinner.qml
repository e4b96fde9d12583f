import QtQuick
import Kovra.Design

// An indeterminate progress spinner: twelve spokes fading round a circle, `size`
// across (32 for the large control size), in `color`, turning while visible.
Item {
    id: spinner

    property real size: 32
    property color color: Brand.accent
    // Shown in a window on screen; no animation runs otherwise.
    readonly property bool onScreen: WindowExposure.exposed

    implicitWidth: size
    implicitHeight: size
    Accessible.role: Accessible.Animation

    Item {
        id: wheel
        anchors.fill: parent

        Repeater {
            model: 12

            Rectangle {
                required property int index
                x: (spinner.size - width) / 2
                width: Math.max(2, spinner.size * 0.09)
                height: spinner.size * 0.28
                radius: width / 2
                color: spinner.color
                opacity: 0.2 + 0.8 * index / 11
                transform: Rotation {
                    origin.x: width / 2
                    origin.y: spinner.size / 2
                    angle: index * 30
                }
            }
        }

        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 1000
            loops: Animation.Infinite
            running: spinner.visible && spinner.onScreen
        }
    }
}
