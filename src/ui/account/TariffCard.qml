import QtQuick
import QtQuick.Layouts
import Kovra.Design

// One plan of the tariff screen, from texts made in C++ (TariffCardTexts): the length
// with the best-value tag, the price at the trailing edge, the monthly quota with
// the saving, the Stars and USDT chips and the selection mark. Selected, a 2-point
// accent stroke runs inside the card's edge; unselected the stroke is transparent, so
// both have the same size. Read as one button, checked when selected.
Item {
    id: card

    property string monthsText
    property string priceText
    property string quotaText
    property string savingsText
    property string starsText
    property string usdtText
    property string bestValueText
    property string accessibleName
    property bool isSelected: false
    property bool isBestValue: false

    implicitWidth: panel.implicitWidth
    implicitHeight: panel.implicitHeight
    Layout.fillWidth: true

    Accessible.role: Accessible.Button
    Accessible.name: accessibleName
    Accessible.checkable: isSelected
    Accessible.checked: isSelected

    component PriceChip: BrandPillChrome {
        id: chip

        property string symbol
        property string text

        fill: Brand.background
        leftPadding: 8
        rightPadding: 8
        topPadding: 4
        bottomPadding: 4

        contentItem: Row {
            spacing: 4
            SymbolIcon {
                anchors.verticalCenter: parent.verticalCenter
                name: chip.symbol
                size: 12
                color: Brand.textSecondary
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: chip.text
                textFormat: Text.PlainText
                font: Brand.withWeight(Brand.captionFont, Font.DemiBold)
                color: Brand.textSecondary
            }
        }
    }

    BrandCard {
        id: panel
        anchors.fill: parent
        padding: 16
        elevation: Elevation.Card
        Accessible.ignored: true

        ColumnLayout {
            anchors.fill: parent
            spacing: 8

            RowLayout {
                objectName: "titleRow"
                Layout.fillWidth: true
                spacing: 8

                Text {
                    objectName: "months"
                    Layout.alignment: Qt.AlignBaseline
                    text: card.monthsText
                    textFormat: Text.PlainText
                    font: Brand.headlineFont
                    color: Brand.textPrimary
                }
                BrandAccentTag {
                    objectName: "bestValue"
                    Layout.alignment: Qt.AlignBaseline
                    visible: card.isBestValue
                    text: card.bestValueText
                }
                Item {
                    Layout.fillWidth: true
                    Layout.minimumWidth: 4
                }
                Text {
                    objectName: "price"
                    Layout.alignment: Qt.AlignBaseline
                    text: card.priceText
                    textFormat: Text.PlainText
                    font.family: Brand.numericFont.family
                    font.pixelSize: Brand.titleFont.pixelSize
                    font.weight: Font.DemiBold
                    color: Brand.textPrimary
                }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 4

                Text {
                    objectName: "quota"
                    text: card.quotaText
                    textFormat: Text.PlainText
                    font: Brand.subheadlineFont
                    color: Brand.textSecondary
                }
                Text {
                    objectName: "savings"
                    visible: card.savingsText.length > 0
                    text: card.savingsText
                    textFormat: Text.PlainText
                    font: Brand.withWeight(Brand.subheadlineFont, Font.DemiBold)
                    color: Brand.success
                }
                Item { Layout.fillWidth: true }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 8

                PriceChip { objectName: "starsChip"; symbol: "star.fill"; text: card.starsText }
                PriceChip { objectName: "usdtChip"; symbol: "dollarsign.circle.fill"; text: card.usdtText }
                Item { Layout.fillWidth: true }
                SymbolIcon {
                    objectName: "selectionMark"
                    name: card.isSelected ? "checkmark.circle.fill" : "circle"
                    size: 20
                    color: card.isSelected ? Brand.accent : Brand.separator
                }
            }
        }
    }

    Rectangle {
        objectName: "selectionStroke"
        anchors.fill: parent
        radius: 16
        color: "transparent"
        border.width: 2
        border.color: Qt.rgba(Brand.accent.r, Brand.accent.g, Brand.accent.b, card.isSelected ? 1 : 0)
    }
}
