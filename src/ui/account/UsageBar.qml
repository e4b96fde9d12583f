import QtQuick
import Kovra.Design
import Kovra.Account

// A linear bar of `fraction` (0...1) of its width, tinted by `tint` (UsageTint):
// the accent colour, system orange or system red, on a faint track.
Item {
    id: bar

    property real fraction: 0
    property int tint: UsageTint.Accent

    readonly property color tintColor: tint === UsageTint.Danger ? Brand.danger
                                       : tint === UsageTint.Warning ? Brand.warning : Brand.accent

    implicitWidth: 200
    implicitHeight: 6
    Accessible.role: Accessible.ProgressBar

    Rectangle {
        objectName: "usageTrack"
        anchors.fill: parent
        radius: height / 2
        color: Brand.separator
    }
    Rectangle {
        objectName: "usageFill"
        height: parent.height
        width: parent.width * Math.max(0, Math.min(1, bar.fraction))
        visible: width > 0
        radius: height / 2
        color: bar.tintColor
    }
}
