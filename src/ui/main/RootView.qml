import QtQuick
import QtQuick.Window
import Kovra.Design
import Kovra.Main

// The main window's content: the sign-in window while signed out, the home window
// while signed in, cross-faded over the model's fade duration (at once with reduce
// motion); a view that has faded out is destroyed. Before the session is settled
// neither is loaded, and the first one then appears at once. The welcome alert of a new account
// opens over either while the model shows it; every way it closes tells the model.
// Controls of the whole tree draw their accents in the brand tint.
Item {
    id: root

    required property RootModel model

    // The model notifies `settled` after `signedIn`: the first view does not fade in.
    readonly property bool animated: !Brand.reduceMotion && model.settled
    // The alert opens once the view is in a window.
    readonly property bool trialAlertShown: model.showsTrialAlert && Window.window !== null

    objectName: "rootView"
    implicitWidth: 780
    implicitHeight: 520

    // Fusion draws checked, selected and progress accents with `highlight`.
    palette.highlight: Brand.tint
    palette.highlightedText: Brand.onAccent

    Loader {
        id: loginSlot
        objectName: "loginSlot"
        anchors.fill: parent
        opacity: root.model.signedIn ? 0 : 1
        visible: opacity > 0
        active: root.model.settled && (!root.model.signedIn || visible)
        enabled: !root.model.signedIn

        Behavior on opacity {
            enabled: root.animated
            NumberAnimation { duration: root.model.fadeDuration; easing.type: Easing.InOutQuad }
        }

        sourceComponent: LoginView {
            model: root.model.login
        }
    }

    Loader {
        id: homeSlot
        objectName: "homeSlot"
        anchors.fill: parent
        opacity: root.model.signedIn ? 1 : 0
        visible: opacity > 0
        active: root.model.settled && root.model.home !== null && (root.model.signedIn || visible)
        enabled: root.model.signedIn

        Behavior on opacity {
            enabled: root.animated
            NumberAnimation { duration: root.model.fadeDuration; easing.type: Easing.InOutQuad }
        }

        sourceComponent: HomeView {
            model: root.model.home
        }
    }

    // Built the first time it opens, then kept: it closes from its own handlers.
    Loader {
        id: trialAlertSlot
        active: false
        sourceComponent: TrialAlert {
            title: root.model.trialTitle
            message: root.model.trialMessage
            buttonTitle: root.model.trialButtonTitle
            onDismissed: root.model.showsTrialAlert = false
        }
    }

    // Leaving the window is no dismissal: only the model's flag closes the alert. The
    // popup follows the window one step later, once it has found the window too.
    function syncTrialAlert() {
        if (trialAlertShown) {
            trialAlertSlot.active = true
            trialAlertSlot.item.open()
        } else if (!model.showsTrialAlert && trialAlertSlot.item) {
            trialAlertSlot.item.close()
        }
    }
    onTrialAlertShownChanged: Qt.callLater(syncTrialAlert)
    Component.onCompleted: Qt.callLater(syncTrialAlert)
}
