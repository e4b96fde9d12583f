import QtQuick
import QtQuick.Layouts
import Kovra.Design
import Kovra.Diagnostics

// The first line of the sheet: a progress indicator or a status dot, then the text.
// Screen readers get the row as one element.
RowLayout {
    id: line

    required property StatusSection section

    spacing: 8
    Accessible.role: Accessible.StaticText
    Accessible.name: section.text

    ActivityIndicator {
        objectName: "statusActivity"
        Accessible.ignored: true
        visible: line.section.running
    }
    BrandStatusDot {
        objectName: "statusDot"
        visible: line.section.showsDot
        dotState: line.section.dotState
        size: 10
        glow: line.section.glow
    }
    TonedText {
        objectName: "statusText"
        text: line.section.text
        tone: line.section.tone
        font: line.section.headline ? Brand.headlineFont : Brand.subheadlineFont
        wrapMode: Text.Wrap
        Layout.fillWidth: true
        Accessible.ignored: true
    }
}
