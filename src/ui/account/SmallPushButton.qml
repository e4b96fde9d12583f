import QtQuick
import QtQuick.Templates as T
import Kovra.Design

// A push button of the small control size: the title in the label colour on a
// control fill with a hairline border, darker while pressed.
T.Button {
    id: control

    font: Brand.captionFont
    leftPadding: 10
    rightPadding: 10
    topPadding: 3
    bottomPadding: 3
    implicitWidth: implicitContentWidth + leftPadding + rightPadding
    implicitHeight: implicitContentHeight + topPadding + bottomPadding
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus
    Accessible.role: Accessible.Button
    Accessible.name: text

    contentItem: Text {
        objectName: "buttonTitle"
        text: control.text
        font: control.font
        textFormat: Text.PlainText
        color: Brand.textPrimary
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }

    background: Rectangle {
        radius: 5
        color: Qt.tint(Brand.surface, Qt.rgba(Brand.textPrimary.r, Brand.textPrimary.g, Brand.textPrimary.b,
                                              control.down ? 0.16 : control.hovered ? 0.1 : 0.06))
        border.width: 0.5
        border.color: Brand.separator
    }
}
