import QtQuick
import QtQuick.Layouts
import Kovra.Diagnostics

// The copy control under a report: one button that puts `text` on the clipboard as
// it stands. `share` is the sections' share callback; no control here raises it.
RowLayout {
    id: controls

    required property DiagnosticsView model
    property string text

    signal share(string text)

    spacing: 8

    CardButton {
        objectName: "copyButton"
        text: controls.model.copyTitle
        symbol: "doc.on.doc"
        onClicked: controls.model.copy(controls.text)
    }
}
