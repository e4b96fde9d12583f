import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// One row of an InsetSection: an optional leading `symbol`, the `title`, an optional
// trailing `value` in the secondary colour and, for a navigation link, a chevron.
// `interactive` rows are buttons (clicked()); the others only show their texts.
T.AbstractButton {
    id: row

    property string title
    property string value
    property string symbol
    property color titleColor: Brand.textPrimary
    property color symbolColor: Brand.accent
    property bool showsChevron: false
    property bool interactive: false

    Layout.fillWidth: true
    implicitWidth: content.implicitWidth + leftPadding + rightPadding
    implicitHeight: Math.max(36, content.implicitHeight + topPadding + bottomPadding)
    leftPadding: 12
    rightPadding: 12
    topPadding: 9
    bottomPadding: 9
    enabled: interactive
    hoverEnabled: interactive
    focusPolicy: interactive ? Qt.StrongFocus : Qt.NoFocus

    Accessible.role: interactive ? Accessible.Button : Accessible.StaticText
    Accessible.name: value.length > 0 ? title + ", " + value : title

    background: Rectangle {
        radius: 10
        color: Brand.textPrimary
        opacity: row.down ? 0.08 : row.hovered ? 0.04 : 0
    }

    contentItem: RowLayout {
        id: content
        spacing: 8

        SymbolIcon {
            objectName: "rowSymbol"
            visible: row.symbol.length > 0
            name: row.symbol
            size: 16
            color: row.symbolColor
            Layout.preferredWidth: 20
        }
        Text {
            objectName: "rowTitle"
            Layout.fillWidth: true
            text: row.title
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font: Brand.bodyFont
            color: row.titleColor
        }
        Text {
            objectName: "rowValue"
            visible: row.value.length > 0
            Layout.maximumWidth: row.width * 0.6
            text: row.value
            textFormat: Text.PlainText
            elide: Text.ElideMiddle
            horizontalAlignment: Text.AlignRight
            font: Brand.bodyFont
            color: Brand.textSecondary
        }
        SymbolIcon {
            objectName: "rowChevron"
            visible: row.showsChevron
            name: "chevron.right"
            size: 16
            color: Brand.textTertiary
        }
    }
}
