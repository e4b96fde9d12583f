import QtQuick
import QtQuick.Controls as C
import QtQuick.Templates as T
import Kovra.Design

// A symbol button of the home window's tool row; `label` is its tooltip and its
// accessible name.
T.Button {
    id: control

    property string symbol
    property string label

    hoverEnabled: true
    implicitWidth: 30
    implicitHeight: 28
    Accessible.role: Accessible.Button
    Accessible.name: label
    C.ToolTip.visible: hovered && label !== ""
    C.ToolTip.text: label
    C.ToolTip.delay: 600

    contentItem: Item {
        SymbolIcon {
            anchors.centerIn: parent
            name: control.symbol
            size: 18
            color: Brand.textPrimary
        }
    }
    background: Rectangle {
        radius: 6
        color: Brand.textPrimary
        opacity: control.down ? 0.14 : control.hovered ? 0.07 : 0
    }
}
