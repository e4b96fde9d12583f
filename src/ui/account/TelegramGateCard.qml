import QtQuick
import QtQuick.Layouts
import Kovra.Design

// The tariff screen's card in place of the plans while the account has no Telegram
// link: why paying needs one, and the button that opens the settings to link it.
BrandCard {
    id: gate

    property string title
    property string reason
    property string actionTitle
    property string actionHint

    signal actionClicked()

    padding: 16
    elevation: Elevation.Card

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        SymbolLabel {
            objectName: "gateTitle"
            symbol: "paperplane.fill"
            text: gate.title
            font: Brand.headlineFont
            color: Brand.textPrimary
        }
        Text {
            objectName: "gateReason"
            Layout.fillWidth: true
            text: gate.reason
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Brand.subheadlineFont
            color: Brand.textSecondary
        }
        BrandButton {
            objectName: "gateButton"
            kind: ButtonKind.Primary
            fullWidth: true
            text: gate.actionTitle
            Accessible.description: gate.actionHint
            onClicked: gate.actionClicked()
        }
    }
}
