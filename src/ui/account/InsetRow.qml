import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// One row of an InsetSection: an optional leading `symbol`, the `title`, an optional
// trailing `value` (in `valueFont` and `valueColor`, the secondary colour) with, when
// `showsStatusDot`, a connected status dot after it, a progress spinner at the
// trailing edge while `busy` and, for a navigation link, a chevron.
// `interactive` rows are buttons (clicked()); the others only show their texts. An
// interactive row that is disabled is drawn at half opacity.
T.AbstractButton {
    id: row

    property string title
    property string value
    property string symbol
    property color titleColor: Brand.textPrimary
    property color symbolColor: Brand.accent
    property bool showsChevron: false
    property bool interactive: false
    property font valueFont: Brand.bodyFont
    property color valueColor: Brand.textSecondary
    property bool showsStatusDot: false
    property bool busy: false

    Layout.fillWidth: true
    implicitWidth: content.implicitWidth + leftPadding + rightPadding
    implicitHeight: Math.max(36, content.implicitHeight + topPadding + bottomPadding)
    leftPadding: 12
    rightPadding: 12
    topPadding: 9
    bottomPadding: 9
    enabled: interactive
    opacity: interactive && !enabled ? 0.5 : 1.0
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
            font: row.valueFont
            color: row.valueColor
        }
        BrandStatusDot {
            objectName: "rowStatusDot"
            visible: row.showsStatusDot
            dotState: StatusDotState.Connected
            size: 10
        }
        WaitingSpinner {
            objectName: "rowSpinner"
            visible: row.busy
            size: 16
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
