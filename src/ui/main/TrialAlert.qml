import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// A modal alert inside the window: `title`, `message` and one button. Its button and
// Escape close it; every closing emits dismissed() once, so the presenter clears its
// flag whichever way it went. Open and close it with open()/close().
T.Popup {
    id: alert

    property string title
    property string message
    property string buttonTitle

    signal dismissed()

    objectName: "trialAlert"
    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(320, parent ? parent.width - 40 : 320)
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    modal: true
    focus: true
    closePolicy: T.Popup.CloseOnEscape
    padding: 20
    palette.highlight: Brand.tint
    palette.highlightedText: Brand.onAccent

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
        Accessible.name: alert.title
        Accessible.description: alert.message

        Text {
            objectName: "alertTitle"
            Layout.fillWidth: true
            text: alert.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font: Brand.headlineFont
            color: Brand.textPrimary
        }
        Text {
            objectName: "alertMessage"
            Layout.fillWidth: true
            text: alert.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font: Brand.subheadlineFont
            color: Brand.textSecondary
        }
        BrandButton {
            objectName: "alertButton"
            Layout.topMargin: 8
            kind: ButtonKind.Primary
            fullWidth: true
            text: alert.buttonTitle
            onClicked: alert.close()
        }
    }
}
