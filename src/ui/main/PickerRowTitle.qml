import QtQuick
import Kovra.Design

// The first line of a picker row: flags and title, then the provider badge 4 after
// it; the title is cut short with an ellipsis when the line is too narrow for both.
// Not read out on its own (the row carries the label).
Item {
    id: title

    property string flags
    property string label
    property int provider: ProviderKind.Absent
    property string providerName
    property font font: Brand.bodyFont

    readonly property real badgeSpace: badge.visible ? badge.implicitWidth + 4 : 0

    implicitWidth: text.implicitWidth + badgeSpace
    implicitHeight: Math.max(text.implicitHeight, badge.implicitHeight)

    FlagLabel {
        id: text
        objectName: "rowTitle"
        anchors.verticalCenter: parent.verticalCenter
        width: Math.max(0, Math.min(implicitWidth, title.width - title.badgeSpace))
        flags: title.flags
        label: title.label
        font: title.font
        color: Brand.textPrimary
        elide: Text.ElideRight
        Accessible.ignored: true
    }
    RegionProviderIcon {
        id: badge
        objectName: "rowProvider"
        x: text.width + 4
        anchors.verticalCenter: parent.verticalCenter
        provider: title.provider
        providerName: title.providerName
        Accessible.ignored: true
    }
}
