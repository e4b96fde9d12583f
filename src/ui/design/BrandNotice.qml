import QtQuick
import QtQuick.Layouts
import Kovra.Design

// An inline notice: the tone's symbol (or `systemImage`, still in the tone's
// colour) and the text, verbatim, on a surface capsule. It fills its column and
// grows in height to fit the text. Setting `shown` slides it in from the top and
// fades it in, or out again, unless reduce motion is on; once out it takes no
// space. Read by screen readers as one element.
Item {
    id: notice

    property int tone: NoticeTone.Info
    property string text
    property string systemImage
    property bool shown: true
    property bool reduceMotion: Brand.reduceMotion

    // 0 when in place, 1 when moved out above its slot and transparent.
    property real hidden: 0

    function settle(animated) {
        slide.stop()
        const target = shown ? 0 : 1
        if (animated && !reduceMotion) {
            slide.from = hidden
            slide.to = target
            slide.start()
        } else {
            hidden = target
        }
    }

    implicitWidth: pill.implicitWidth
    implicitHeight: pill.implicitHeight
    Layout.fillWidth: true
    visible: shown || hidden < 1
    opacity: 1 - hidden
    transform: Translate { y: -notice.height * notice.hidden }
    Accessible.role: Accessible.StaticText
    Accessible.name: text

    onShownChanged: settle(true)
    Component.onCompleted: {
        if (shown && !reduceMotion)
            hidden = 1
        settle(true)
    }

    NumberAnimation {
        id: slide
        target: notice
        property: "hidden"
        duration: 350
        easing.type: Easing.InOutQuad
    }

    BrandPillChrome {
        id: pill
        anchors.fill: parent
        fill: Brand.surface
        leftPadding: 16
        rightPadding: 16
        topPadding: 8
        bottomPadding: 8
        Accessible.ignored: true

        contentItem: RowLayout {
            spacing: 8

            SymbolIcon {
                objectName: "symbol"
                name: notice.systemImage !== "" ? notice.systemImage : Brand.toneSymbol(notice.tone)
                color: notice.tone >= 0 && notice.tone < Brand.toneColors.length
                       ? Brand.toneColors[notice.tone] : Brand.danger
                size: 14
                Layout.alignment: Qt.AlignVCenter
            }
            Text {
                objectName: "text"
                text: notice.text
                textFormat: Text.PlainText
                font: Brand.captionFont
                color: Brand.textPrimary
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignLeft
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignVCenter
                Accessible.ignored: true
            }
        }
    }
}
