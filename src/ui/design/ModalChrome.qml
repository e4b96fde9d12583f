import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// The header every sheet shares: its title, a close button, a divider, then the
// sheet's content (the children, laid out to fill the area below the divider).
// The close button and Escape both call dismiss(), which emits dismissRequested
// once; the presenter (usually SheetWindow) closes the sheet.
Item {
    id: chrome

    property string title
    default property alias content: body.data
    readonly property Item contentItem: body.children.length > 0 ? body.children[0] : null

    signal dismissRequested()

    function dismiss() {
        dismissRequested()
    }

    implicitWidth: Math.max(header.implicitWidth + header.Layout.leftMargin + header.Layout.rightMargin,
                            contentItem ? contentItem.implicitWidth : 0)
    implicitHeight: header.implicitHeight + header.Layout.topMargin + header.Layout.bottomMargin
                    + divider.height + (contentItem ? contentItem.implicitHeight : 0)

    Shortcut {
        sequence: "Esc"
        onActivated: chrome.dismiss()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            id: header
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.topMargin: 8
            Layout.bottomMargin: 8
            spacing: 8

            Text {
                objectName: "title"
                text: chrome.title
                textFormat: Text.PlainText
                font: Brand.headlineFont
                color: Brand.textPrimary
                elide: Text.ElideRight
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignVCenter
                Accessible.role: Accessible.Heading
            }
            Item {
                Layout.minimumWidth: 16
                Layout.preferredWidth: 16
            }
            T.Button {
                id: closeButton
                objectName: "closeButton"
                text: Texts.close
                font: Brand.bodyFont
                leftPadding: 12
                rightPadding: 12
                topPadding: 4
                bottomPadding: 4
                implicitWidth: implicitContentWidth + leftPadding + rightPadding
                implicitHeight: implicitContentHeight + topPadding + bottomPadding
                Layout.alignment: Qt.AlignVCenter
                Accessible.name: text
                onClicked: chrome.dismiss()

                contentItem: Text {
                    text: closeButton.text
                    font: closeButton.font
                    textFormat: Text.PlainText
                    color: Brand.textPrimary
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
                background: Rectangle {
                    radius: 6
                    color: Brand.surface
                    opacity: closeButton.down ? 0.7 : 1.0
                    border.width: 0.5
                    border.color: Brand.separator
                }
            }
        }
        Rectangle {
            id: divider
            objectName: "divider"
            Layout.fillWidth: true
            implicitHeight: 1
            color: Brand.separator
        }
        Item {
            id: body
            Layout.fillWidth: true
            Layout.fillHeight: true
        }
    }
}
