import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Main

// The connection picker under the sheet's chrome: a tool row with the title and the
// refresh control, then the scrolling list of the model's lines, each drawn by its
// kind. Rows stand in rounded groups; headers and footers are plain captions.
Rectangle {
    id: sheet

    required property ConnectionPickerModel model

    objectName: "connectionPicker"
    color: Brand.background
    implicitWidth: 460
    implicitHeight: 520

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            objectName: "toolRow"
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 16
            Layout.topMargin: 12
            Layout.bottomMargin: 4
            spacing: 8

            Text {
                objectName: "pickerTitle"
                text: sheet.model.title
                textFormat: Text.PlainText
                font: Brand.titleFont
                color: Brand.textPrimary
                elide: Text.ElideRight
                Layout.fillWidth: true
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            T.Button {
                id: refreshButton
                objectName: "refreshButton"
                enabled: !sheet.model.busy
                hoverEnabled: true
                implicitWidth: 28
                implicitHeight: 28
                Accessible.role: Accessible.Button
                Accessible.name: sheet.model.refreshLabel
                onClicked: sheet.model.refresh()

                contentItem: Item {
                    SymbolIcon {
                        objectName: "refreshSymbol"
                        anchors.centerIn: parent
                        visible: !sheet.model.busy
                        name: "arrow.clockwise"
                        size: 20
                        color: Brand.tint
                    }
                    PickerSpinner {
                        objectName: "refreshProgress"
                        anchors.centerIn: parent
                        visible: sheet.model.busy
                        size: 16
                        Accessible.ignored: true
                    }
                }
                background: Rectangle {
                    radius: 6
                    color: Brand.textPrimary
                    opacity: refreshButton.down ? 0.1 : refreshButton.hovered ? 0.05 : 0
                }
            }
        }

        ListView {
            id: list
            objectName: "pickerList"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: sheet.model.items
            topMargin: 4
            bottomMargin: 16
            boundsBehavior: Flickable.StopAtBounds
            Accessible.role: Accessible.List

            T.ScrollBar.vertical: T.ScrollBar {
                id: scrollBar
                policy: T.ScrollBar.AsNeeded
                visible: size < 1.0
                minimumSize: 0.1
                padding: 2
                implicitWidth: 10

                contentItem: Rectangle {
                    implicitWidth: 6
                    radius: width / 2
                    color: Brand.textTertiary
                    opacity: scrollBar.pressed ? 0.9 : 0.6
                }
            }

            delegate: Item {
                id: line

                required property int index
                required property int kind
                required property string text
                required property string flags
                required property string label
                required property string subtitle
                required property int subtitleColor
                required property int provider
                required property string providerName
                required property bool selected
                required property bool dimmed
                required property bool emphasized
                required property string accessibilityLabel
                required property string accessibilityHint
                required property string actionTitle
                required property bool determinate
                required property real fraction
                required property string percentText
                required property bool accentBackground
                required property bool firstInGroup
                required property bool lastInGroup

                readonly property bool isHeader: kind === PickerItemKind.SectionHeader
                readonly property bool isFooter: kind === PickerItemKind.SectionFooter
                readonly property bool inGroup: !isHeader && !isFooter
                // Space above the stale hint, the one group below a section without a header.
                readonly property real groupGap: kind === PickerItemKind.StaleHint && index > 0 ? 20 : 0
                readonly property real topPadding: isHeader ? (index > 0 ? 20 : 4) : isFooter ? 6 : groupGap + 8
                readonly property real bottomPadding: isHeader ? 6 : isFooter ? 0 : 8

                objectName: "pickerLine" + index
                width: ListView.view.width
                height: topPadding + loader.height + bottomPadding

                // The row's part of its group's rounded panel: the corners show only
                // at the group's first and last rows.
                Item {
                    objectName: "groupPanel"
                    visible: line.inGroup
                    x: 16
                    y: line.groupGap
                    width: parent.width - 32
                    height: parent.height - line.groupGap
                    clip: true

                    Rectangle {
                        y: line.firstInGroup ? 0 : -12
                        width: parent.width
                        height: parent.height - y + (line.lastInGroup ? 0 : 12)
                        radius: 10
                        color: Brand.surface
                        border.width: 0.5
                        border.color: Brand.separator
                    }
                    Rectangle {
                        objectName: "accentBackground"
                        visible: line.accentBackground
                        y: line.firstInGroup ? 0 : -12
                        width: parent.width
                        height: parent.height - y + (line.lastInGroup ? 0 : 12)
                        radius: 10
                        color: Brand.accent
                        opacity: 0.1
                    }
                    Rectangle {
                        objectName: "rowSeparator"
                        visible: !line.firstInGroup
                        x: 12
                        width: parent.width - 12
                        height: 1
                        color: Brand.separator
                    }
                }

                Loader {
                    id: loader
                    x: 28
                    y: line.topPadding
                    width: line.width - 2 * x
                    sourceComponent: {
                        switch (line.kind) {
                        case PickerItemKind.SectionHeader: return headerView
                        case PickerItemKind.SectionFooter: return footerView
                        case PickerItemKind.ServerRow: return serverRow
                        case PickerItemKind.StartingRow: return startingRow
                        case PickerItemKind.AsleepRow: return asleepRow
                        case PickerItemKind.StaleHint: return staleHint
                        case PickerItemKind.LoadingSkeleton: return loadingSkeleton
                        default: return emptyState
                        }
                    }
                }

                Component {
                    id: headerView
                    Text {
                        objectName: "sectionHeader"
                        text: line.text
                        textFormat: Text.PlainText
                        font: Brand.withWeight(Brand.subheadlineFont, Font.DemiBold)
                        color: Brand.textSecondary
                        wrapMode: Text.Wrap
                        Accessible.role: Accessible.Heading
                        Accessible.name: text
                    }
                }
                Component {
                    id: footerView
                    Text {
                        objectName: "sectionFooter"
                        text: line.text
                        textFormat: Text.PlainText
                        font: Brand.captionFont
                        color: Brand.textSecondary
                        wrapMode: Text.Wrap
                        Accessible.role: Accessible.StaticText
                        Accessible.name: text
                    }
                }
                Component {
                    id: serverRow
                    PickerServerRow {
                        objectName: "serverRow"
                        flags: line.flags
                        label: line.label
                        subtitle: line.subtitle
                        provider: line.provider
                        providerName: line.providerName
                        subtitleColor: line.subtitleColor
                        isSelected: line.selected
                        isDimmed: line.dimmed
                        isEmphasized: line.emphasized
                        accessibilityLabelText: line.accessibilityLabel
                        onClicked: sheet.model.activate(line.index)
                    }
                }
                Component {
                    id: startingRow
                    PickerStartingRow {
                        objectName: "startingRow"
                        flags: line.flags
                        label: line.label
                        provider: line.provider
                        providerName: line.providerName
                        determinate: line.determinate
                        fraction: line.fraction
                        percentText: line.percentText
                        caption: line.text
                        accessibilityLabelText: line.accessibilityLabel
                        accessibilityHint: line.accessibilityHint
                    }
                }
                Component {
                    id: asleepRow
                    PickerAsleepRow {
                        objectName: "asleepRow"
                        flags: line.flags
                        label: line.label
                        provider: line.provider
                        providerName: line.providerName
                        caption: line.text
                        actionTitle: line.actionTitle
                        accessibilityLabelText: line.accessibilityLabel
                        accessibilityHint: line.accessibilityHint
                        onWake: sheet.model.wakeRow(line.index)
                    }
                }
                Component {
                    id: staleHint
                    PickerStaleHint {
                        objectName: "staleHint"
                        text: line.text
                    }
                }
                Component {
                    id: loadingSkeleton
                    PickerLoadingSkeleton {
                        objectName: "loadingSkeleton"
                        text: line.text
                    }
                }
                Component {
                    id: emptyState
                    PickerEmptyState {
                        objectName: "emptyState"
                        text: line.text
                        retryTitle: sheet.model.retryLabel
                        onRetry: sheet.model.refresh()
                    }
                }
            }
        }
    }
}
