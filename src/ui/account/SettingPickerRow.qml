import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// A picker row of an inset section in menu style: the title over its caption subtitle,
// 2 apart, and at the trailing edge the chosen item's title with an up-down chevron in
// the accent colour, which opens the list of `choices` ({title} maps) with a check
// mark at the chosen one. chosen(index) reports a choice made by the user only; the
// picker then shows the model's `currentIndex` again.
Item {
    id: row

    property string title
    property string subtitle
    property var choices: []
    property int currentIndex: -1
    signal chosen(int index)

    Layout.fillWidth: true
    implicitHeight: Math.max(44, label.implicitHeight + 18)

    Accessible.role: Accessible.ComboBox
    Accessible.name: title
    Accessible.description: subtitle

    ColumnLayout {
        id: label
        anchors.left: parent.left
        anchors.right: picker.left
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        spacing: 2

        Text {
            objectName: "pickerTitle"
            Layout.fillWidth: true
            text: row.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Brand.bodyFont
            color: Brand.textPrimary
        }
        Text {
            objectName: "pickerSubtitle"
            Layout.fillWidth: true
            text: row.subtitle
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Brand.captionFont
            color: Brand.textSecondary
        }
    }

    T.ComboBox {
        id: picker
        objectName: "picker"
        anchors.right: parent.right
        anchors.rightMargin: 12
        anchors.verticalCenter: parent.verticalCenter
        model: row.choices
        textRole: "title"
        currentIndex: row.currentIndex
        implicitWidth: implicitContentWidth + leftPadding + rightPadding
        implicitHeight: 28
        leftPadding: 10
        rightPadding: 8
        hoverEnabled: true
        Accessible.name: row.title

        onActivated: index => {
            currentIndex = Qt.binding(() => row.currentIndex)
            row.chosen(index)
        }

        contentItem: RowLayout {
            spacing: 4
            Text {
                objectName: "pickerValue"
                text: picker.displayText
                textFormat: Text.PlainText
                font: Brand.bodyFont
                color: Brand.accent
            }
            SymbolIcon {
                name: "chevron.up.chevron.down"
                size: 14
                color: Brand.accent
            }
        }

        background: Rectangle {
            radius: 6
            color: Brand.accent
            opacity: picker.pressed ? 0.16 : picker.hovered ? 0.08 : 0
        }

        delegate: T.ItemDelegate {
            id: item
            required property var modelData
            required property int index

            objectName: "pickerItem" + index
            width: ListView.view ? ListView.view.width : implicitWidth
            implicitWidth: itemRow.implicitWidth + leftPadding + rightPadding
            implicitHeight: 30
            leftPadding: 8
            rightPadding: 12
            highlighted: picker.highlightedIndex === index
            Accessible.name: modelData.title

            contentItem: RowLayout {
                id: itemRow
                spacing: 6
                SymbolIcon {
                    name: "checkmark"
                    size: 14
                    color: Brand.accent
                    opacity: item.index === picker.currentIndex ? 1 : 0
                }
                Text {
                    Layout.fillWidth: true
                    text: item.modelData.title
                    textFormat: Text.PlainText
                    font: Brand.bodyFont
                    color: Brand.textPrimary
                }
            }
            background: Rectangle {
                radius: 5
                color: Brand.accent
                opacity: item.highlighted ? 0.14 : 0
            }
        }

        popup: T.Popup {
            objectName: "pickerMenu"
            y: picker.height + 4
            x: picker.width - width
            width: 200
            implicitHeight: Math.min(list.contentHeight + topPadding + bottomPadding, 360)
            padding: 4

            contentItem: ListView {
                id: list
                clip: true
                implicitHeight: contentHeight
                model: picker.delegateModel
                currentIndex: picker.highlightedIndex
                boundsBehavior: Flickable.StopAtBounds
            }
            background: Rectangle {
                radius: 8
                color: Brand.surface
                border.width: 0.5
                border.color: Brand.separator
            }
        }
    }
}
