import QtQuick
import Kovra.Design
import Kovra.Account

// The subscription's state as a capsule: a 7-point status dot and the style's title
// in semibold caption, both in the style's colour, on that colour at 0.15; padded 10
// left and right, 4 above and below. Read as one element.
BrandPillChrome {
    id: pill

    property int style: SubscriptionPillStyle.Inactive

    readonly property int dotState: SubscriptionPillStyle.dotState(style)
    readonly property string title: SubscriptionPillStyle.title(style)
    // No `??` here: Qt 6.4's compiled bindings read a colour in a list as null.
    readonly property color tone: dotState >= 0 && dotState < Brand.statusColors.length
                                  ? Brand.statusColors[dotState] : Brand.textSecondary

    fill: Qt.rgba(tone.r, tone.g, tone.b, 0.15)
    leftPadding: 10
    rightPadding: 10
    topPadding: 4
    bottomPadding: 4

    Accessible.role: Accessible.StaticText
    Accessible.name: title

    contentItem: Row {
        spacing: 4

        BrandStatusDot {
            objectName: "pillDot"
            anchors.verticalCenter: parent.verticalCenter
            dotState: pill.dotState
            size: 7
            glow: SubscriptionPillStyle.glows(pill.style)
        }
        Text {
            objectName: "pillTitle"
            anchors.verticalCenter: parent.verticalCenter
            text: pill.title
            textFormat: Text.PlainText
            font: Brand.withWeight(Brand.captionFont, Font.DemiBold)
            color: pill.tone
            Accessible.ignored: true
        }
    }
}
