import QtQuick
import QtQuick.Templates as T
import Kovra.Design

// The scroll indicator of the sheet's scroll area: a thin rounded thumb, always
// shown while the content is taller than the area.
T.ScrollBar {
    id: bar

    objectName: "scrollBar"
    policy: T.ScrollBar.AsNeeded
    visible: size < 1.0
    minimumSize: 0.1
    padding: 2
    implicitWidth: 10

    contentItem: Rectangle {
        implicitWidth: 6
        radius: width / 2
        color: Brand.textTertiary
        opacity: bar.pressed ? 0.9 : 0.6
    }
}
