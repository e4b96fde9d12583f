import QtQuick
import QtQuick.Layouts
import Kovra.Design

// What every plan includes, under the plans: one row per feature ({symbol, text}),
// the symbol in the accent colour in a 20-point column, each row read as its text.
BrandCard {
    id: card

    property var features: []

    padding: 16
    elevation: Elevation.Card

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        Repeater {
            model: card.features

            RowLayout {
                id: row

                required property var modelData
                required property int index

                objectName: "feature" + index
                Layout.fillWidth: true
                spacing: 8
                Accessible.role: Accessible.StaticText
                Accessible.name: modelData.text

                SymbolIcon {
                    objectName: "featureIcon"
                    Layout.preferredWidth: 20
                    name: row.modelData.symbol
                    size: Brand.bodyFont.pixelSize + 2
                    color: Brand.tint
                }
                Text {
                    objectName: "featureText"
                    Layout.fillWidth: true
                    text: row.modelData.text
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    font: Brand.calloutFont
                    color: Brand.textSecondary
                    Accessible.ignored: true
                }
            }
        }
    }
}
