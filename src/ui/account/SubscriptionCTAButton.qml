import QtQuick
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Account

// The subscription's call to action: a primary full-width button titled by its link
// (buy, renew or top up; or link Telegram for payment) that pushes the link's new
// page, the tariff or the settings screen, on `stack`. Both destinations draw the same
// button, so a change of destination does not move the layout.
BrandButton {
    id: button

    required property AccountPageLink link
    property T.StackView stack: null

    kind: ButtonKind.Primary
    fullWidth: true
    text: link ? link.title : ""
    onClicked: navigator.open(link)

    PageNavigator {
        id: navigator
        stack: button.stack
    }
}
