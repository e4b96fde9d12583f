import QtQuick
import QtQuick.Layouts
import Kovra.Design

// The bar at the bottom of the tariff screen: a separator line over a nearly opaque
// surface, and the full-width continue button padded 24 at the sides, 16 above and 8
// below. Disabled, the button is dimmed and does nothing.
Rectangle {
    id: bar

    property string title
    property bool canContinue: false

    signal continueClicked()

    implicitHeight: 16 + button.implicitHeight + 8
    color: Qt.rgba(Brand.surface.r, Brand.surface.g, Brand.surface.b, 0.94)

    Rectangle {
        objectName: "barSeparator"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        height: 1
        color: Brand.separator
    }

    BrandButton {
        id: button
        objectName: "continueButton"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.leftMargin: 24
        anchors.rightMargin: 24
        anchors.topMargin: 16
        kind: ButtonKind.Primary
        fullWidth: true
        text: bar.title
        enabled: bar.canContinue
        onClicked: bar.continueClicked()
    }
}
