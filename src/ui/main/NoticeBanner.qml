import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// A notice strip on a surface capsule: the tone's symbol in the tone's colour, the
// text as given (selectable with the mouse, wrapping onto as many lines as it needs),
// and a small tinted button only when there is both an action title and an action
// (`hasAction`; the button emits actionTriggered). Fills its width. Read by screen
// readers as one element whose press runs the action. Its coming and going (a move
// from the top with a fade) is animated by the slot that holds it.
BrandPillChrome {
    id: banner

    property int tone: NoticeTone.Info
    property string text
    property string actionTitle
    property bool hasAction: false
    readonly property bool showsAction: actionTitle !== "" && hasAction

    signal actionTriggered()

    fill: Brand.surface
    leftPadding: 16
    rightPadding: 16
    topPadding: 8
    bottomPadding: 8
    Layout.fillWidth: true
    Accessible.role: Accessible.StaticText
    Accessible.name: text
    Accessible.description: showsAction ? actionTitle : ""
    Accessible.onPressAction: if (showsAction) actionTriggered()

    contentItem: RowLayout {
        spacing: 8

        SymbolIcon {
            objectName: "bannerSymbol"
            name: Brand.toneSymbol(banner.tone)
            color: banner.tone >= 0 && banner.tone < Brand.toneColors.length
                   ? Brand.toneColors[banner.tone] : Brand.danger
            size: 14
            Layout.alignment: Qt.AlignVCenter
        }
        TextEdit {
            objectName: "bannerText"
            text: banner.text
            textFormat: TextEdit.PlainText
            readOnly: true
            selectByMouse: true
            font: Brand.captionFont
            color: Brand.textPrimary
            selectionColor: Brand.accent
            selectedTextColor: Brand.onAccent
            wrapMode: TextEdit.Wrap
            horizontalAlignment: TextEdit.AlignLeft
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter
            Accessible.ignored: true
        }
        T.Button {
            id: actionButton
            objectName: "bannerAction"
            visible: banner.showsAction
            text: banner.actionTitle
            font: Brand.captionFont
            leftPadding: 8
            rightPadding: 8
            topPadding: 3
            bottomPadding: 3
            implicitWidth: implicitContentWidth + leftPadding + rightPadding
            implicitHeight: implicitContentHeight + topPadding + bottomPadding
            Layout.alignment: Qt.AlignVCenter
            Accessible.ignored: true
            onClicked: banner.actionTriggered()

            contentItem: Text {
                text: actionButton.text
                font: actionButton.font
                textFormat: Text.PlainText
                color: Brand.onAccent
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
            background: Rectangle {
                objectName: "bannerActionFill"
                radius: 5
                color: Brand.tint
                opacity: actionButton.down ? 0.8 : 1.0
            }
        }
    }
}
