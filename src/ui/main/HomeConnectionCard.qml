import QtQuick
import QtQuick.Controls as C
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Main

// The connection card: its heading, then the row that opens the connection picker,
// a capsule across the card showing the connection in use (or the globe and "Авто")
// and, while the connection may change, the chevron. While it may not, the row is
// disabled and its tooltip says why.
BrandCard {
    id: card

    required property HomeModel model

    objectName: "connectionCard"
    padding: 16
    elevation: Elevation.Card

    ColumnLayout {
        width: parent.width
        spacing: 8

        Text {
            objectName: "connectionHeading"
            text: card.model.connectionHeading
            textFormat: Text.PlainText
            font: Brand.withWeight(Brand.subheadlineFont, Font.DemiBold)
            color: Brand.textPrimary
            Layout.fillWidth: true
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        // Hovered also while the row is disabled, so that the locked hint shows.
        Item {
            objectName: "connectionRowArea"
            implicitHeight: row.implicitHeight
            Layout.fillWidth: true
            C.ToolTip.visible: rowHover.hovered
            C.ToolTip.text: card.model.connectionTooltip
            C.ToolTip.delay: 600

            HoverHandler { id: rowHover }

            T.Button {
                id: row
                objectName: "connectionRow"
                width: parent.width
                enabled: card.model.canChangeConnection
                leftPadding: 16
                rightPadding: 16
                topPadding: 8
                bottomPadding: 8
                implicitWidth: implicitContentWidth + leftPadding + rightPadding
                implicitHeight: implicitContentHeight + topPadding + bottomPadding
                Accessible.role: Accessible.Button
                Accessible.name: card.model.connectionAccessibilityLabel
                Accessible.description: card.model.connectionAccessibilityValue
                onClicked: card.model.openConnectionPicker()

                contentItem: RowLayout {
                    spacing: 8
                    opacity: row.enabled ? (row.down ? 0.7 : 1.0) : 0.5

                    FlagLabel {
                        objectName: "connectionLabel"
                        visible: card.model.hasConnection
                        flags: card.model.connectionFlags
                        label: card.model.connectionLabel
                        font: Brand.subheadlineFont
                        color: Brand.textPrimary
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                        Layout.alignment: Qt.AlignVCenter
                    }
                    SymbolIcon {
                        objectName: "autoSymbol"
                        visible: !card.model.hasConnection
                        name: "globe"
                        size: 14
                        color: Brand.accent
                        Layout.alignment: Qt.AlignVCenter
                    }
                    Text {
                        objectName: "autoLabel"
                        visible: !card.model.hasConnection
                        text: card.model.autoLabel
                        textFormat: Text.PlainText
                        font: Brand.subheadlineFont
                        color: Brand.textPrimary
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                        Layout.alignment: Qt.AlignVCenter
                    }
                    SymbolIcon {
                        objectName: "connectionChevron"
                        visible: card.model.canChangeConnection
                        name: "chevron.up.chevron.down"
                        size: 12
                        font.weight: Font.DemiBold
                        color: Brand.textSecondary
                        Layout.alignment: Qt.AlignVCenter
                    }
                }
                background: BrandPillChrome {
                    objectName: "connectionPill"
                    fill: Brand.background
                }
            }
        }
    }
}
