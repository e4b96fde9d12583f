import QtQuick
import QtQuick.Window
import Kovra.Design

// The settings window: one fixed size; the shell places the content in it.
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
}
