import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// A switch row of an inset section (`row`: a map of SettingSwitchRow): the title over
// its caption subtitle, 2 apart, and a switch in the accent colour. The whole row
// toggles. toggledTo() reports a change made by the user only; the switch then shows
// the model's value again (the model may refuse the change).
T.Switch {
    id: control

    required property var row
    signal toggledTo(bool on)

    objectName: "switch" + row.preference
    Layout.fillWidth: true
    implicitWidth: leftPadding + label.implicitWidth + spacing + track.width + rightPadding
    implicitHeight: Math.max(44, label.implicitHeight + topPadding + bottomPadding)
    leftPadding: 12
    rightPadding: 12
    topPadding: 9
    bottomPadding: 9
    spacing: 12
    checked: row.isOn
    enabled: row.isEnabled
    opacity: row.opacity
    hoverEnabled: true

    Accessible.name: row.title
    Accessible.description: row.subtitle

    onToggled: {
        const on = checked
        checked = Qt.binding(() => control.row.isOn)
        control.toggledTo(on)
    }

    indicator: Rectangle {
        id: track
        objectName: "switchTrack"
        x: control.width - width - control.rightPadding
        y: (control.height - height) / 2
        width: 36
        height: 20
        radius: height / 2
        color: control.checked ? Brand.accent : Brand.systemGray
        opacity: control.checked ? 1.0 : 0.45

        Behavior on color {
            enabled: !Brand.reduceMotion
            ColorAnimation { duration: 120 }
        }

        Rectangle {
            objectName: "switchKnob"
            x: control.checked ? parent.width - width - 2 : 2
            y: 2
            width: 16
            height: 16
            radius: 8
            color: "white"

            Behavior on x {
                enabled: !Brand.reduceMotion
                NumberAnimation { duration: 120; easing.type: Easing.OutQuad }
            }
        }
    }

    contentItem: ColumnLayout {
        id: label
        spacing: 2

        Text {
            objectName: "switchTitle"
            Layout.fillWidth: true
            Layout.rightMargin: track.width + control.spacing
            text: control.row.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Brand.bodyFont
            color: Brand.textPrimary
        }
        Text {
            objectName: "switchSubtitle"
            Layout.fillWidth: true
            Layout.rightMargin: track.width + control.spacing
            text: control.row.subtitle
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Brand.captionFont
            color: Brand.textSecondary
        }
    }

    background: Rectangle {
        radius: 10
        color: Brand.textPrimary
        opacity: control.hovered && control.enabled ? 0.04 : 0
    }
}
