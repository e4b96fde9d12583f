import QtQuick
import QtQuick.Layouts
import Kovra.Design

// A grey placeholder bar shown while data loads. Without `blockWidth` it spans its
// layout cell; with one it is exactly that wide and sits at the leading edge.
Item {
    id: block

    property real blockWidth: NaN
    property real blockHeight: 16
    property real cornerRadius: 6

    readonly property bool hasWidth: !isNaN(blockWidth)

    implicitWidth: hasWidth ? blockWidth : 0
    implicitHeight: blockHeight
    Layout.fillWidth: true
    Layout.maximumWidth: hasWidth ? blockWidth : Infinity
    Layout.alignment: Qt.AlignLeft | Qt.AlignVCenter

    Rectangle {
        objectName: "block"
        x: 0
        anchors.verticalCenter: parent.verticalCenter
        width: block.hasWidth ? block.blockWidth : block.width
        height: block.blockHeight
        radius: block.cornerRadius
        color: Brand.separator
    }
}
