import QtQuick
import QtQuick.Templates as T
import Kovra.Design

// A capsule behind its content (its child, or `contentItem`), filled with `fill` and edged with a hairline
// separator. Adds no padding of its own; callers set the paddings.
T.Pane {
    id: pill

    property color fill: Brand.surface

    padding: 0
    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)

    background: Rectangle {
        objectName: "capsule"
        radius: height / 2
        color: pill.fill
        border.width: 0.5
        border.color: Brand.separator
    }
}
