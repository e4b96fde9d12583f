import QtQuick
import Kovra.Design

// A thin linear progress bar in the tint colour. Determinate: filled to `value`
// (0 to 1), easing out over 0.6 s to each new value. Indeterminate: a segment
// sweeping across. No motion with reduce motion on (the segment then rests).
Item {
    id: bar

    property bool determinate: true
    property real value: 0
    property bool reduceMotion: Brand.reduceMotion
    // Shown in a window on screen; no animation runs otherwise.
    readonly property bool onScreen: WindowExposure.exposed
    // The drawn fraction, which follows `value` with the animation.
    property real shownValue: value

    implicitWidth: 120
    implicitHeight: 4
    Accessible.ignored: true

    Behavior on shownValue {
        enabled: !bar.reduceMotion
        NumberAnimation {
            duration: 600
            // Ease-out: the cubic curve (0, 0) (0.58, 1).
            easing.type: Easing.BezierSpline
            easing.bezierCurve: [0, 0, 0.58, 1, 1, 1]
        }
    }

    Rectangle {
        objectName: "progressTrack"
        anchors.fill: parent
        radius: height / 2
        color: Brand.separator
    }
    Rectangle {
        objectName: "progressFill"
        visible: bar.determinate
        width: bar.width * Math.max(0, Math.min(1, bar.shownValue))
        height: parent.height
        radius: height / 2
        color: Brand.tint
    }
    Item {
        anchors.fill: parent
        visible: !bar.determinate
        clip: true

        Rectangle {
            id: segment
            objectName: "progressSegment"
            // 0: just left of the track, 1: just right of it; at rest in the middle.
            property real phase: 0.5
            width: bar.width * 0.3
            height: parent.height
            radius: height / 2
            color: Brand.tint
            x: -width + phase * (bar.width + width)

            NumberAnimation on phase {
                from: 0
                to: 1
                duration: 1400
                loops: Animation.Infinite
                running: !bar.determinate && !bar.reduceMotion && bar.visible && bar.onScreen
                onRunningChanged: if (!running) segment.phase = 0.5
            }
        }
    }
}
