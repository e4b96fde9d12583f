import QtQuick
import Kovra.Design
import Kovra.Account

// The contact-support button of an inset list: the label of `contact` in the accent
// colour; a tap opens the support bot (no feedback when nothing opens).
InsetRow {
    required property SupportContact contact

    objectName: "contactSupport"
    interactive: true
    title: contact.title
    symbol: contact.symbol
    titleColor: Brand.accent
    onClicked: contact.open()
}
