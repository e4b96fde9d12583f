import QtQuick
import QtQuick.Layouts
import Kovra.Design
import Kovra.Account

// The support checklist over its SupportChecklistModel: the numbered steps (not
// tappable), then the contact-support button.
AccountPage {
    id: page

    readonly property SupportChecklistModel checklist: model

    InsetList {
        anchors.fill: parent

        InsetSection {
            objectName: "stepsSection"
            header: page.checklist.header

            Repeater {
                model: page.checklist.steps

                Item {
                    id: step
                    required property var modelData
                    required property int index

                    objectName: "step" + (index + 1)
                    Layout.fillWidth: true
                    implicitHeight: Math.max(36, stepTitle.implicitHeight + 2 * 9)
                    Accessible.role: Accessible.StaticText
                    Accessible.name: modelData.number + ". " + modelData.title

                    Rectangle {
                        objectName: "stepBadge"
                        x: 12
                        anchors.verticalCenter: parent.verticalCenter
                        width: 20
                        height: 20
                        radius: 10
                        color: Qt.rgba(Brand.accent.r, Brand.accent.g, Brand.accent.b, 0.15)

                        Text {
                            objectName: "stepNumber"
                            anchors.centerIn: parent
                            text: step.modelData.number
                            textFormat: Text.PlainText
                            font: Brand.withWeight(Brand.captionFont, Font.Bold)
                            color: Brand.accent
                            Accessible.ignored: true
                        }
                    }
                    Text {
                        id: stepTitle
                        objectName: "stepTitle"
                        x: 12 + 20 + 10
                        width: parent.width - x - 12
                        anchors.verticalCenter: parent.verticalCenter
                        text: step.modelData.title
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font: Brand.bodyFont
                        color: Brand.textPrimary
                        Accessible.ignored: true
                    }
                }
            }
        }

        InsetSection {
            objectName: "contactSection"

            ContactSupportRow {
                contact: page.checklist.supportContact
            }
        }
    }
}
