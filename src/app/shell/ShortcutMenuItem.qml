import QtQuick
import QtQuick.Controls as C

// A menu item with its key at the right edge, as desktop menus show it. The key
// label is named after the item ("<objectName>Key").
C.MenuItem {
    id: item

    // The key as the desktop writes it (a Shortcut's nativeText); empty: none.
    property string shortcutText

    readonly property color textColor: item.highlighted || item.down ? item.palette.highlightedText : item.palette.text

    contentItem: Item {
        implicitWidth: label.implicitWidth + (key.text ? 32 + key.implicitWidth : 0)
        implicitHeight: Math.max(label.implicitHeight, key.implicitHeight)

        Text {
            id: label
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            text: item.text
            font: item.font
            color: item.textColor
            elide: Text.ElideRight
            width: Math.min(implicitWidth, parent.width - (key.text ? key.implicitWidth + 16 : 0))
        }
        Text {
            id: key
            objectName: item.objectName + "Key"
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            text: item.shortcutText
            font: item.font
            color: item.textColor
            opacity: 0.7
            visible: text.length > 0
        }
    }
}
