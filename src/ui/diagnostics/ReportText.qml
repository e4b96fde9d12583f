import QtQuick
import QtQuick.Layouts
import Kovra.Design

// A report's text as it stands (plain text, never markup): monospaced caption in
// the secondary label colour, selectable and read-only, wrapping at the full width.
TextEdit {
    readOnly: true
    selectByMouse: true
    textFormat: TextEdit.PlainText
    wrapMode: TextEdit.Wrap
    font: Brand.monoFont
    color: Brand.textSecondary
    selectionColor: Brand.accent
    selectedTextColor: Brand.onAccent
    Layout.fillWidth: true
}
