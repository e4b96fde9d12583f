import QtQuick
import QtQuick.Layouts
import Kovra.Design
import Kovra.Main

// The connect button over the status line (the dot, then the status text in the
// colour of the dot's state), centred in a card 250 wide.
BrandCard {
    id: card

    required property HomeModel model

    objectName: "heroCard"
    padding: 24
    elevation: Elevation.Card
    Layout.fillWidth: false
    Layout.preferredWidth: 250
    Layout.alignment: Qt.AlignTop

    ColumnLayout {
        width: parent.width
        spacing: 16

        ConnectButton {
            objectName: "connectButton"
            visual: card.model.buttonVisual
            canInteract: card.model.canInteract
            accessibilityLabel: card.model.buttonAccessibilityLabel
            accessibilityHint: card.model.buttonAccessibilityHint
            diameter: 116
            iconSize: 44
            ringReserve: 40
            Layout.alignment: Qt.AlignHCenter
            onClicked: card.model.toggle()
        }
        RowLayout {
            objectName: "statusLine"
            spacing: 8
            Layout.fillWidth: false
            Layout.alignment: Qt.AlignHCenter
            Layout.maximumWidth: parent.width
            Accessible.role: Accessible.StaticText
            Accessible.name: card.model.statusText

            BrandStatusDot {
                objectName: "statusDot"
                dotState: card.model.statusDotState
                size: 10
                glow: card.model.statusGlow
                Layout.alignment: Qt.AlignVCenter
            }
            Text {
                objectName: "statusText"
                text: card.model.statusText
                textFormat: Text.PlainText
                font: Brand.headlineFont
                color: Brand[card.model.statusTextColorRole]
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                Layout.maximumWidth: card.availableWidth - 18
                Layout.alignment: Qt.AlignVCenter
                Accessible.ignored: true
            }
        }
    }
}
