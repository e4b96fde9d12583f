import QtQuick
import QtQuick.Templates as T
import Qt5Compat.GraphicalEffects
import Kovra.Design

// Sweeps a light band across placeholders (`contentItem`, usually skeleton
// blocks): a band half as wide as the content travels from half a width left of
// it to one width right of it every 1.25 s, drawn only where the content is. No
// band and no motion with reduce motion on; the sweep restarts from the left each
// time the shimmer becomes visible.
T.Control {
    id: shimmer

    property bool reduceMotion: Brand.reduceMotion
    // Shown in a window on screen; no animation runs otherwise.
    readonly property bool onScreen: WindowExposure.exposed
    // 0: the band is half a width left of the content; 1: one width right of it.
    property real phase: 0
    readonly property bool sweeping: sweep.running

    padding: 0
    implicitWidth: implicitContentWidth
    implicitHeight: implicitContentHeight

    Item {
        id: bandLayer
        width: shimmer.width
        height: shimmer.height
        visible: false

        Rectangle {
            width: shimmer.width / 2
            height: parent.height
            // Centred on the content, then moved by -width/2 .. +width of the content.
            x: (shimmer.width - width) / 2 + (shimmer.phase * 1.5 - 0.5) * shimmer.width
            gradient: Gradient {
                orientation: Gradient.Horizontal
                GradientStop { position: 0.0; color: Qt.rgba(1, 1, 1, 0) }
                GradientStop { position: 0.5; color: Qt.rgba(1, 1, 1, 0.5) }
                GradientStop { position: 1.0; color: Qt.rgba(1, 1, 1, 0) }
            }
        }
    }

    OpacityMask {
        objectName: "band"
        z: 1
        anchors.fill: parent
        visible: !shimmer.reduceMotion && shimmer.contentItem !== null
        source: bandLayer
        maskSource: shimmer.contentItem
    }

    NumberAnimation {
        id: sweep
        target: shimmer
        property: "phase"
        from: 0
        to: 1
        duration: 1250
        loops: Animation.Infinite
        running: !shimmer.reduceMotion && shimmer.visible && shimmer.onScreen
        onRunningChanged: if (!running) shimmer.phase = 0
    }
}
