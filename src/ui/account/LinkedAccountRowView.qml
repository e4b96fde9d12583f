import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// One linked sign-in method of the settings screen (`row`: a map of
// LinkedAccountRow). Linked: the symbol and title with the linked value (and, for
// Telegram, a connected dot). Not linked: a button with the link title, a spinner
// while the flow runs, disabled while `row.isDisabled`. A button that can never work
// here carries `row.unavailableNote` as its tooltip and accessible description; the
// tooltip shows on hover although the button is disabled.
Item {
    id: item

    required property var row
    signal tapped()

    readonly property bool isConnected: row.isConnected === true

    // Fills the section's width; its own width does not feed back into the section's.
    Layout.fillWidth: true
    implicitHeight: rowButton.implicitHeight

    InsetRow {
        id: rowButton
        objectName: "linkRow" + item.row.account
        anchors.fill: parent
        symbol: item.row.systemImage
        title: item.isConnected ? item.row.title : item.row.notConnectedTitle
        titleColor: item.isConnected ? Brand.textPrimary : Brand.accent
        symbolColor: item.isConnected ? Brand.textPrimary : Brand.accent
        value: item.isConnected ? item.row.connectedValue : ""
        showsStatusDot: item.isConnected && item.row.showsConnectedDot
        busy: !item.isConnected && item.row.isLinking
        interactive: !item.isConnected
        enabled: !item.isConnected && !item.row.isDisabled
        Accessible.description: item.row.unavailableNote
        onClicked: item.tapped()
    }

    TextMetrics {
        id: noteWidth
        text: item.row.unavailableNote
        font: Brand.captionFont
    }

    HoverHandler {
        id: hover
        enabled: item.row.unavailableNote !== ""
    }

    T.ToolTip {
        id: note
        objectName: "unavailableNote"
        parent: item
        visible: hover.hovered && item.row.unavailableNote !== "" && !item.isConnected
        delay: 500
        text: item.row.unavailableNote
        // Under the row's title, within the row.
        x: 40
        y: item.height + 2
        width: Math.min(noteWidth.advanceWidth + leftPadding + rightPadding + 1, item.width - x)
        implicitHeight: implicitContentHeight + topPadding + bottomPadding
        padding: 6
        contentItem: Text {
            text: note.text
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Brand.captionFont
            color: Brand.background
        }
        background: Rectangle {
            radius: 6
            color: Brand.textPrimary
            opacity: 0.9
        }
    }
}
