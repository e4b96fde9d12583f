import QtQuick
import QtQuick.Window
import Kovra.Design

// A sheet: a window-modal dialog over `transientParent`, centred on it, holding
// its content (the children) under ModalChrome titled `title`. The presenter
// binds `open`; the user's dismissal (the close button, Escape, or the window
// manager's close) hides the sheet and emits `dismissed` once, and the presenter
// sets its flag back to false:
//
//     SheetWindow {
//         transientParent: home.Window.window
//         title: model.pickerTitle
//         open: model.showPicker
//         minimumWidth: 460; minimumHeight: 520
//         onDismissed: model.showPicker = false
//         ConnectionPicker { anchors.fill: parent; model: home.model.picker }
//     }
Window {
    id: sheet

    property bool open: false
    default property alias content: chrome.content

    signal dismissed()

    function dismiss() {
        if (!visible)
            return
        hide()
        dismissed()
    }

    function present() {
        if (visible)
            return
        width = Math.max(width, minimumWidth)
        height = Math.max(height, minimumHeight)
        const p = transientParent
        if (p) {
            x = p.x + Math.round((p.width - width) / 2)
            y = p.y + Math.round((p.height - height) / 2)
        } else {
            x = Math.round((Screen.width - width) / 2)
            y = Math.round((Screen.height - height) / 2)
        }
        show()
        requestActivate()
    }

    flags: Qt.Dialog
    modality: Qt.WindowModal
    color: Brand.background
    width: Math.max(minimumWidth, chrome.implicitWidth)
    height: Math.max(minimumHeight, chrome.implicitHeight)

    onOpenChanged: open ? present() : hide()
    Component.onCompleted: if (open) present()
    onClosing: (close) => {
        close.accepted = false
        dismiss()
    }

    ModalChrome {
        id: chrome
        anchors.fill: parent
        title: sheet.title
        onDismissRequested: sheet.dismiss()
    }
}
