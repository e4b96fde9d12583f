import QtQuick
import QtQuick.Layouts
import Kovra.Design

// The tariff screen's card for a load that failed with no plans to show: the
// failure in orange, the error's text (selectable) and the retry button.
BrandCard {
    id: card

    property string title
    property string errorText
    property string retryTitle

    signal retryClicked()

    padding: 16
    elevation: Elevation.Card

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        SymbolLabel {
            objectName: "errorTitle"
            symbol: "exclamationmark.triangle.fill"
            text: card.title
            font: Brand.subheadlineFont
            color: Brand.warning
        }
        TextEdit {
            objectName: "errorText"
            Layout.fillWidth: true
            text: card.errorText
            textFormat: TextEdit.PlainText
            readOnly: true
            selectByMouse: true
            wrapMode: TextEdit.Wrap
            font: Brand.captionFont
            color: Brand.textSecondary
            selectionColor: Brand.accent
            selectedTextColor: Brand.onAccent
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        BrandButton {
            objectName: "retryButton"
            kind: ButtonKind.Secondary
            fullWidth: true
            symbol: "arrow.clockwise"
            text: card.retryTitle
            onClicked: card.retryClicked()
        }
    }
}
