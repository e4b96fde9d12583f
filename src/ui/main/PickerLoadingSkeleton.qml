import QtQuick
import QtQuick.Layouts
import Kovra.Design

// Four placeholder rows, shaped like the picker's rows (a 140 by 16 title over a
// 90 by 12 status line), under the shimmer. One accessibility element labelled
// `text`.
BrandShimmer {
    id: skeleton

    property string text

    Accessible.role: Accessible.StaticText
    Accessible.name: text

    contentItem: ColumnLayout {
        spacing: 16

        Repeater {
            model: 4

            RowLayout {
                objectName: "placeholderRow"
                spacing: 16
                Layout.fillWidth: true
                Layout.topMargin: 2
                Layout.bottomMargin: 2

                ColumnLayout {
                    spacing: 2

                    SkeletonBlock {
                        blockWidth: 140
                        blockHeight: 16
                        cornerRadius: 6
                    }
                    SkeletonBlock {
                        blockWidth: 90
                        blockHeight: 12
                        cornerRadius: 6
                    }
                }
                Item {
                    Layout.minimumWidth: 8
                    Layout.fillWidth: true
                }
            }
        }
    }
}
