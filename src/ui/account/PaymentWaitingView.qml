import QtQuick
import QtQuick.Layouts
import Kovra.Design
import Kovra.Account

// The payment sheet's content while it waits for the payment to show in the
// subscription: the phase's icon, title and subtitle, the attempt line while polling,
// and the phase's buttons at full width. Everything shown comes from `model`
// (PaymentWaitingModel); the sheet connects model.onClose to its dismissal.
Item {
    id: view

    required property PaymentWaitingModel model
    property bool reduceMotion: Brand.reduceMotion

    implicitWidth: 420
    implicitHeight: column.implicitHeight

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.leftMargin: 24
        anchors.rightMargin: 24
        anchors.bottomMargin: 24
        spacing: 0

        Item {
            Layout.fillHeight: true
            Layout.minimumHeight: 24
        }

        Loader {
            id: icon
            objectName: "phaseIcon"
            Layout.alignment: Qt.AlignHCenter
            Layout.bottomMargin: 24
            // Changes only with the icon kind: the check mark stays the same item
            // while the texts around it change.
            sourceComponent: view.model.icon === PaymentWaitingIcon.Checkmark ? checkmarkIcon
                             : view.model.icon === PaymentWaitingIcon.Clock ? clockIcon : spinnerIcon
        }

        Text {
            objectName: "title"
            Layout.fillWidth: true
            Layout.bottomMargin: 8
            text: view.model.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font: Brand.titleFont
            color: Brand.textPrimary
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Text {
            objectName: "subtitle"
            Layout.fillWidth: true
            text: view.model.subtitle
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font: Brand.subheadlineFont
            color: Brand.textSecondary
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Row {
            id: attemptLine
            objectName: "attemptLine"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 16
            visible: view.model.showsAttempt
            Accessible.role: Accessible.StaticText
            Accessible.name: view.model.attemptText

            Text {
                text: view.model.attemptPrefix
                textFormat: Text.PlainText
                font: Brand.captionFont
                color: Brand.textSecondary
                Accessible.ignored: true
            }
            // Digits of one width; a new number slides up into place while it fades in.
            Text {
                id: attemptNumber
                objectName: "attemptNumber"
                text: view.model.attemptNumber
                textFormat: Text.PlainText
                font.family: Brand.numericFont.family
                font.pixelSize: Brand.captionFont.pixelSize
                color: Brand.textSecondary
                Accessible.ignored: true
                transform: Translate { id: numberShift }

                onTextChanged: {
                    if (view.reduceMotion || !attemptLine.visible)
                        return
                    numberIn.restart()
                }

                ParallelAnimation {
                    id: numberIn
                    NumberAnimation { target: numberShift; property: "y"; from: 6; to: 0; duration: 250
                                      easing.type: Easing.OutCubic }
                    NumberAnimation { target: attemptNumber; property: "opacity"; from: 0; to: 1; duration: 250 }
                }
            }
            Text {
                text: view.model.attemptSuffix
                textFormat: Text.PlainText
                font: Brand.captionFont
                color: Brand.textSecondary
                Accessible.ignored: true
            }
        }

        Item {
            Layout.fillHeight: true
            Layout.minimumHeight: 24
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 8

            Repeater {
                model: view.model.buttons

                BrandButton {
                    required property var modelData
                    required property int index
                    objectName: "action" + index
                    fullWidth: true
                    text: modelData.title
                    kind: modelData.kind
                    reduceMotion: view.reduceMotion
                    onClicked: view.model.trigger(modelData.action)
                }
            }
        }
    }

    Component {
        id: spinnerIcon
        WaitingSpinner { objectName: "spinner"; size: 32; color: Brand.accent }
    }
    Component {
        id: checkmarkIcon
        ConfirmedCheckmark { objectName: "checkmark"; reduceMotion: view.reduceMotion }
    }
    Component {
        id: clockIcon
        SymbolIcon {
            objectName: "clock"
            name: "clock.badge.questionmark"
            size: 56
            color: Brand.warning
            Accessible.ignored: true
        }
    }
}
