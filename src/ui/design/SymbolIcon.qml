import QtQuick
import Kovra.Design

// One symbol, by the name the screens use (see Symbols), drawn with Material Icons.
Text {
    id: icon

    property string name
    property real size: 16

    text: Symbols.glyph(name)
    font.family: Symbols.fontFamily
    font.pixelSize: size
    textFormat: Text.PlainText
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    Accessible.ignored: true
}
