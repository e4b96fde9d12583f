import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// A modal confirmation inside the window: `title` (always shown), `message`, the
// destructive `actionTitle` button and the `cancelTitle` button. Every way it closes
// (the action, the cancel button, Escape, a click outside) emits dismissed(), so the
// presenter clears its flag whichever way it went; the action then emits accepted(),
// the last thing the dialog does (what it starts may remove the dialog). Open and
// close it with open()/close().
T.Popup {
    id: dialog

    property string title
    property string message
    property string actionTitle
    property string cancelTitle

    signal accepted()
    signal dismissed()

    objectName: "confirmationDialog"
    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(340, parent ? parent.width - 40 : 340)
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    modal: true
    focus: true
    closePolicy: T.Popup.CloseOnEscape | T.Popup.CloseOnPressOutside
    padding: 20

    onClosed: dismissed()

    T.Overlay.modal: Rectangle {
        color: Qt.rgba(0, 0, 0, Brand.dark ? 0.5 : 0.3)
    }

    background: Rectangle {
        radius: 12
        color: Brand.surface
        border.width: 0.5
        border.color: Brand.separator
    }

    contentItem: ColumnLayout {
        spacing: 8
        Accessible.role: Accessible.AlertMessage
        Accessible.name: dialog.title

        Text {
            objectName: "dialogTitle"
            Layout.fillWidth: true
            text: dialog.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font: Brand.headlineFont
            color: Brand.textPrimary
        }
        Text {
            objectName: "dialogMessage"
            Layout.fillWidth: true
            visible: text.length > 0
            text: dialog.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font: Brand.subheadlineFont
            color: Brand.textSecondary
        }
        BrandButton {
            objectName: "dialogAction"
            Layout.topMargin: 8
            kind: ButtonKind.Destructive
            fullWidth: true
            text: dialog.actionTitle
            onClicked: {
                dialog.close()
                dialog.accepted()
            }
        }
        BrandButton {
            objectName: "dialogCancel"
            kind: ButtonKind.Secondary
            fullWidth: true
            text: dialog.cancelTitle
            onClicked: dialog.close()
        }
    }
}
