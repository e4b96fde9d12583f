import QtQuick
import QtQuick.Controls as C
import Kovra.Design

// The main window: the connection menu above the content, which the shell places in
// the window's content item. The window is the content's size plus the menu bar's
// height, so the content gets exactly its first and least sizes. The keys of the
// menu and of the app work in every window of the app.
C.ApplicationWindow {
    id: window

    // The shell (openSettings(), quit()) and the connection commands.
    required property QtObject shell
    required property QtObject commands
    required property string windowTitle
    required property size contentSize
    required property size contentMinimumSize

    readonly property real menuBarHeight: menuBar ? menuBar.implicitHeight : 0

    objectName: "mainWindow"
    title: windowTitle
    color: Brand.background
    minimumWidth: contentMinimumSize.width
    minimumHeight: contentMinimumSize.height + menuBarHeight
    Component.onCompleted: {
        width = contentSize.width
        height = contentSize.height + menuBarHeight
    }

    menuBar: C.MenuBar {
        objectName: "menuBar"

        C.Menu {
            objectName: "connectionMenu"
            title: window.commands.menuTitle

            ShortcutMenuItem {
                objectName: "connectItem"
                text: window.commands.connectTitle
                shortcutText: connectKey.nativeText
                enabled: window.commands.connectEnabled
                onTriggered: window.commands.toggle()
            }
            C.MenuSeparator {}
            ShortcutMenuItem {
                objectName: "refreshItem"
                text: window.commands.refreshTitle
                shortcutText: refreshKey.nativeText
                onTriggered: window.commands.refresh()
            }
        }
    }

    Shortcut {
        id: connectKey
        sequence: window.commands.connectShortcut
        context: Qt.ApplicationShortcut
        onActivated: window.commands.toggle()
    }
    Shortcut {
        id: refreshKey
        sequence: window.commands.refreshShortcut
        context: Qt.ApplicationShortcut
        onActivated: window.commands.refresh()
    }
    Shortcut {
        sequence: window.commands.settingsShortcut
        context: Qt.ApplicationShortcut
        onActivated: window.shell.openSettings()
    }
    Shortcut {
        sequence: window.commands.quitShortcut
        context: Qt.ApplicationShortcut
        onActivated: window.shell.quit()
    }
}
