import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Main

// One selectable row of the connection picker: flags and title (headline font when
// emphasised) with the provider badge, the status line in its colour below, and a
// check mark when selected. A dimmed row is drawn at 0.45 and still reacts. The row
// is one accessibility element: a button with its own label and selected state.
T.AbstractButton {
    id: row

    property string flags
    property string label
    property string subtitle
    property int provider: ProviderKind.Absent
    property string providerName
    property int subtitleColor: PickerColor.Secondary
    property bool isSelected: false
    property bool isDimmed: false
    property bool isEmphasized: false
    property string accessibilityLabelText

    function tokenColor(tone) {
        switch (tone) {
        case PickerColor.Accent: return Brand.accent
        case PickerColor.Warning: return Brand.warning
        case PickerColor.Success: return Brand.success
        default: return Brand.textSecondary
        }
    }

    implicitWidth: content.implicitWidth
    implicitHeight: content.implicitHeight
    opacity: isDimmed ? 0.45 : 1.0
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus

    Accessible.role: Accessible.Button
    Accessible.name: accessibilityLabelText
    Accessible.selectable: true
    Accessible.selected: isSelected
    Accessible.onPressAction: row.clicked()

    contentItem: RowLayout {
        id: content
        spacing: 16

        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter

            PickerRowTitle {
                flags: row.flags
                label: row.label
                provider: row.provider
                providerName: row.providerName
                font: row.isEmphasized ? Brand.headlineFont : Brand.bodyFont
                Layout.fillWidth: true
            }
            Text {
                objectName: "rowSubtitle"
                text: row.subtitle
                textFormat: Text.PlainText
                font: Brand.captionFont
                color: row.tokenColor(row.subtitleColor)
                elide: Text.ElideRight
                Layout.fillWidth: true
                Accessible.ignored: true
            }
        }
        Item {
            Layout.minimumWidth: 8
            Layout.preferredWidth: 8
        }
        SymbolIcon {
            objectName: "checkmark"
            visible: row.isSelected
            name: "checkmark.circle.fill"
            size: 20
            color: Brand.accent
            Layout.alignment: Qt.AlignVCenter
        }
    }

    background: Rectangle {
        color: Brand.textPrimary
        opacity: row.down ? 0.08 : row.hovered ? 0.04 : 0
        radius: 6
    }
}
