import QtQuick
import Kovra.Design

// A small indeterminate progress indicator: eight spokes of fading opacity that
// turn while shown; still when motion is reduced. Hidden from screen readers.
Item {
    id: indicator

    property real size: 16
    property color color: Brand.textSecondary

    implicitWidth: size
    implicitHeight: size
    Accessible.ignored: true

    Item {
        id: wheel
        anchors.fill: parent

        Repeater {
            model: 8

            Rectangle {
                required property int index
                x: (indicator.size - width) / 2
                width: Math.max(1.5, indicator.size / 8)
                height: indicator.size * 0.3
                radius: width / 2
                color: indicator.color
                opacity: (index + 1) / 8
                transform: Rotation {
                    origin.x: width / 2
                    origin.y: indicator.size / 2
                    angle: index * 45
                }
            }
        }

        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 1000
            loops: Animation.Infinite
            running: indicator.visible && !Brand.reduceMotion
        }
    }
}
