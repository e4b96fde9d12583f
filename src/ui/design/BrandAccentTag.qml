import QtQuick
import Kovra.Design

// A small accent-coloured tag ("best value"): caption text on a 15 % accent capsule.
BrandPillChrome {
    id: tag

    property string text

    fill: Qt.rgba(Brand.accent.r, Brand.accent.g, Brand.accent.b, 0.15)
    leftPadding: 8
    rightPadding: 8
    topPadding: 4
    bottomPadding: 4

    contentItem: Text {
        objectName: "label"
        text: tag.text
        textFormat: Text.PlainText
        font: Brand.withWeight(Brand.captionFont, Font.DemiBold)
        color: Brand.accent
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
}
