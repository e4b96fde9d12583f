import QtQuick
import QtQuick.Window
import Kovra.Design

// The settings window: one fixed size; the shell places the content in it. Escape
// and Ctrl+W close it (it is hidden and kept for the next opening), as the
// desktop's preference windows do; a dialog open in it takes Escape first.
Window {
    id: window

    required property string windowTitle
    required property size fixedSize

    objectName: "settingsWindow"
    title: windowTitle
    color: Brand.background
    width: fixedSize.width
    height: fixedSize.height
    minimumWidth: fixedSize.width
    maximumWidth: fixedSize.width
    minimumHeight: fixedSize.height
    maximumHeight: fixedSize.height

    Shortcut {
        sequences: ["Esc", "Ctrl+W"]
        onActivated: window.close()
    }
}
