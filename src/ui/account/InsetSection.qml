import QtQuick
import QtQuick.Layouts
import Kovra.Design

// A group of rows as the inset lists show it: an optional `header` caption, the rows
// (the children: InsetRow or any item that fills the width) on the control background
// with a hairline between visible rows, and an optional `footer` caption. Fills the
// width of its column.
//
//     InsetSection {
//         header: model.accountHeader
//         footer: model.accountFooter
//         InsetRow { title: "Версия"; value: model.version }
//         InsetRow { title: model.checklistTitle; symbol: "questionmark.circle"; showsChevron: true
//                    onClicked: model.openChecklist() }
//     }
ColumnLayout {
    id: section

    property string header
    property string footer
    default property alias rows: rowsColumn.data

    spacing: 6
    Layout.fillWidth: true

    Text {
        objectName: "sectionHeader"
        Layout.fillWidth: true
        Layout.leftMargin: 12
        Layout.rightMargin: 12
        visible: section.header.length > 0
        text: section.header
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: Brand.withWeight(Brand.subheadlineFont, Font.DemiBold)
        color: Brand.textSecondary
        Accessible.role: Accessible.Heading
        Accessible.name: text
    }

    Rectangle {
        objectName: "sectionBody"
        Layout.fillWidth: true
        implicitWidth: rowsColumn.implicitWidth
        implicitHeight: rowsColumn.implicitHeight
        radius: 10
        color: Brand.surface
        border.width: 0.5
        border.color: Brand.separator

        ColumnLayout {
            id: rowsColumn
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            spacing: 0
        }

        // A hairline above every visible row that follows another visible row.
        Repeater {
            model: rowsColumn.children.length

            Rectangle {
                required property int index
                readonly property Item row: index < rowsColumn.children.length ? rowsColumn.children[index] : null
                // A row counts when it is visible and takes room (a Repeater, say, takes none).
                readonly property bool followsVisibleRow: {
                    for (let i = 0; i < index; ++i) {
                        if (rowsColumn.children[i].visible && rowsColumn.children[i].height > 0)
                            return true
                    }
                    return false
                }

                objectName: "rowSeparator"
                visible: row !== null && row.visible && row.height > 0 && followsVisibleRow
                x: 12
                y: row ? row.y : 0
                // Null while the section is taken down (a sign-out swaps the settings away).
                width: parent ? parent.width - 12 : 0
                height: 1
                color: Brand.separator
            }
        }
    }

    Text {
        objectName: "sectionFooter"
        Layout.fillWidth: true
        Layout.leftMargin: 12
        Layout.rightMargin: 12
        visible: section.footer.length > 0
        text: section.footer
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        font: Brand.captionFont
        color: Brand.textSecondary
    }
}
