import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// The scrolling column of an inset-style list: its sections (the children) 16 apart,
// with margins of 20, and a thin scroll indicator while the content is taller than
// the list.
Flickable {
    id: list

    default property alias sections: column.data

    objectName: "insetList"
    clip: true
    contentWidth: width
    contentHeight: column.implicitHeight + 2 * 20
    boundsBehavior: Flickable.StopAtBounds

    T.ScrollBar.vertical: T.ScrollBar {
        objectName: "scrollBar"
        policy: T.ScrollBar.AsNeeded
        visible: size < 1.0
        padding: 2
        implicitWidth: 10
        contentItem: Rectangle {
            implicitWidth: 6
            radius: width / 2
            color: Brand.textTertiary
            opacity: 0.6
        }
    }

    ColumnLayout {
        id: column
        x: 20
        y: 20
        width: list.width - 2 * 20
        spacing: 16
    }
}
