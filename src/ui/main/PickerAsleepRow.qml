import QtQuick
import QtQuick.Layouts
import Kovra.Design

// An on-demand server that does not exist yet: flags, title and provider badge over
// the "no server" caption, and the button that asks for it. One accessibility
// element with the row's label and hint, whose action is the button's.
Item {
    id: row

    property string flags
    property string label
    property int provider: ProviderKind.Absent
    property string providerName
    property string caption
    property string actionTitle
    property string accessibilityLabelText
    property string accessibilityHint

    signal wake()

    implicitWidth: content.implicitWidth
    implicitHeight: content.implicitHeight

    Accessible.role: Accessible.Button
    Accessible.name: accessibilityLabelText
    Accessible.description: accessibilityHint
    Accessible.onPressAction: row.wake()

    RowLayout {
        id: content
        width: parent.width
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
                Layout.fillWidth: true
            }
            Text {
                objectName: "asleepCaption"
                text: row.caption
                textFormat: Text.PlainText
                font: Brand.captionFont
                color: Brand.textSecondary
                elide: Text.ElideRight
                Layout.fillWidth: true
                Accessible.ignored: true
            }
        }
        Item {
            Layout.minimumWidth: 8
            Layout.preferredWidth: 8
        }
        PickerBorderedButton {
            objectName: "wakeButton"
            text: row.actionTitle
            Layout.alignment: Qt.AlignVCenter
            Accessible.ignored: true
            onClicked: row.wake()
        }
    }
}
