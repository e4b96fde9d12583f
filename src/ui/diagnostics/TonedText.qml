import QtQuick
import Kovra.Design
import Kovra.Diagnostics

// A plain text in the colour of `tone` (see TextTone).
Text {
    property int tone: TextTone.Primary

    textFormat: Text.PlainText
    color: tone === TextTone.Secondary ? Brand.textSecondary
         : tone === TextTone.Success ? Brand.success
         : tone === TextTone.Warning ? Brand.warning
         : tone === TextTone.Danger ? Brand.danger
         : Brand.textPrimary
}
