import QtQuick
import Kovra.Design

// The check mark of a confirmed payment: 56 points in the success green. It appears
// once per time it is shown (appear()): growing from 0.6 while it fades in, with a
// slight overshoot over 0.4 s, or at full size at once with reduced motion. Hidden
// from screen readers (the title says it).
SymbolIcon {
    id: mark

    property bool reduceMotion: Brand.reduceMotion
    property bool appeared: false

    function appear() {
        if (appeared)
            return
        appeared = true
    }

    name: "checkmark.circle.fill"
    size: 56
    color: Brand.success
    scale: appeared ? 1.0 : 0.6
    opacity: appeared ? 1.0 : 0.0

    Behavior on scale {
        enabled: !mark.reduceMotion
        NumberAnimation { duration: 400; easing.type: Easing.OutBack; easing.overshoot: 2.2 }
    }
    Behavior on opacity {
        enabled: !mark.reduceMotion
        NumberAnimation { duration: 400; easing.type: Easing.OutCubic }
    }

    onVisibleChanged: if (visible) appear()
    Component.onCompleted: if (visible) appear()
}
