import QtQuick
import QtQuick.Layouts
import Kovra.Design

// Three skeleton tariff cards under the design system's shimmer while the plans (or
// the user record) are awaited; read as one element with `label`.
BrandShimmer {
    id: placeholder

    property string label

    Layout.fillWidth: true
    Accessible.role: Accessible.StaticText
    Accessible.name: label

    component Skeleton: SkeletonBlock {
        property real w
        property real h
        blockWidth: w
        blockHeight: h
        cornerRadius: 6
    }

    contentItem: ColumnLayout {
        spacing: 16

        Repeater {
            model: 3

            BrandCard {
                objectName: "skeletonCard" + index
                required property int index
                padding: 16
                elevation: Elevation.Card
                Accessible.ignored: true

                ColumnLayout {
                    anchors.fill: parent
                    spacing: 8

                    RowLayout {
                        Layout.fillWidth: true
                        Skeleton { w: 90; h: 18 }
                        Item { Layout.fillWidth: true }
                        Skeleton { w: 70; h: 20; Layout.alignment: Qt.AlignRight | Qt.AlignVCenter }
                    }
                    Skeleton { w: 120; h: 14 }
                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 8
                        Skeleton { w: 64; h: 22; cornerRadius: 11 }
                        Skeleton { w: 90; h: 22; cornerRadius: 11 }
                        Item { Layout.fillWidth: true }
                    }
                }
            }
        }
    }
}
