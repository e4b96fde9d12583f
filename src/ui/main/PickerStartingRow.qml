import QtQuick
import QtQuick.Layouts
import Kovra.Design

// An on-demand server being created: flags, title and provider badge with the
// percentage (tabular digits, only when determinate), a progress bar, and the
// "starting" caption. One accessibility element with the row's label and hint.
Item {
    id: row

    property string flags
    property string label
    property int provider: ProviderKind.Absent
    property string providerName
    property bool determinate: false
    property real fraction: 0
    property string percentText
    property string caption
    property string accessibilityLabelText
    property string accessibilityHint

    implicitWidth: content.implicitWidth
    implicitHeight: content.implicitHeight + 4

    Accessible.role: Accessible.Button
    Accessible.name: accessibilityLabelText
    Accessible.description: accessibilityHint

    ColumnLayout {
        id: content
        y: 2
        width: parent.width
        spacing: 8

        RowLayout {
            spacing: 8
            Layout.fillWidth: true

            PickerRowTitle {
                flags: row.flags
                label: row.label
                provider: row.provider
                providerName: row.providerName
                Layout.fillWidth: true
            }
            Text {
                objectName: "percentage"
                visible: row.determinate
                text: row.percentText
                textFormat: Text.PlainText
                font.family: Brand.numericFont.family
                font.pixelSize: Brand.captionFont.pixelSize
                color: Brand.tint
                Accessible.ignored: true
            }
        }
        PickerProgressBar {
            objectName: "progressBar"
            determinate: row.determinate
            value: row.fraction
            Layout.fillWidth: true
        }
        Text {
            objectName: "startingCaption"
            text: row.caption
            textFormat: Text.PlainText
            font: Brand.captionFont
            color: Brand.textSecondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Accessible.ignored: true
        }
    }
}
