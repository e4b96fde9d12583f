import QtQuick
import QtQuick.Templates as T
import Kovra.Design

// One plan of the tariff screen as a plain button: its face is the TariffCard of
// `card` (TariffListModel's card properties); a click, Space or Enter selects it.
// Focused from the keyboard, an accent ring surrounds the card. Read as one button,
// checked when its plan is the selected one.
T.AbstractButton {
    id: button

    required property var card

    padding: 0
    focusPolicy: Qt.StrongFocus
    implicitWidth: face.implicitWidth
    implicitHeight: face.implicitHeight
    Accessible.role: Accessible.Button
    Accessible.name: card.accessibleName
    Accessible.checkable: true
    Accessible.checked: card.isSelected

    Keys.onReturnPressed: button.clicked()
    Keys.onEnterPressed: button.clicked()

    contentItem: TariffCard {
        id: face
        objectName: "tariffCard"
        monthsText: button.card.monthsText
        priceText: button.card.priceText
        quotaText: button.card.quotaText
        savingsText: button.card.savingsText
        starsText: button.card.starsText
        usdtText: button.card.usdtText
        bestValueText: button.card.bestValueText
        accessibleName: button.card.accessibleName
        isSelected: button.card.isSelected
        isBestValue: button.card.isBestValue
        // The card's panel is a Pane, which would take the presses meant for the button.
        enabled: false
        Accessible.ignored: true
    }

    background: Rectangle {
        objectName: "focusRing"
        x: -3
        y: -3
        width: button.width + 6
        height: button.height + 6
        radius: 19
        color: "transparent"
        border.width: 2
        border.color: Brand.accent
        opacity: 0.5
        visible: button.visualFocus
    }
}
