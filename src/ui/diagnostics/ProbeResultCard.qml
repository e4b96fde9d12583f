import QtQuick
import QtQuick.Layouts
import Kovra.Design

// One probe of the diagnostics run (`probe`: the fields of ProbeResultCard::fields):
// its result symbol, name and latency on one row, its detail below when it has one.
// Screen readers get the card as one element.
BrandCard {
    id: card

    required property var probe

    padding: 8
    elevation: Elevation.Card
    Accessible.role: Accessible.StaticText
    Accessible.name: probe.accessibleName

    ColumnLayout {
        width: parent.width
        spacing: 4

        RowLayout {
            Layout.fillWidth: true
            spacing: 6

            SymbolIcon {
                objectName: "probeSymbol"
                name: card.probe.symbol
                size: 16
                color: card.probe.ok ? Brand.success : Brand.danger
            }
            Text {
                objectName: "probeName"
                text: card.probe.name
                textFormat: Text.PlainText
                font: Brand.subheadlineFont
                color: Brand.textPrimary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Accessible.ignored: true
            }
            Text {
                objectName: "probeLatency"
                text: card.probe.latency
                textFormat: Text.PlainText
                // Digits of one width: the numeric family at the caption size.
                font.family: Brand.numericFont.family
                font.pixelSize: Brand.captionFont.pixelSize
                color: Brand.textSecondary
                Accessible.ignored: true
            }
        }
        ReportText {
            objectName: "probeDetail"
            visible: card.probe.detail !== ""
            text: card.probe.detail
            Accessible.ignored: true
        }
    }
}
