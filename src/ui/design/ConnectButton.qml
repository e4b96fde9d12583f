import QtQuick
import QtQuick.Templates as T
import Kovra.Design

// The round connect button. Shows `visual` (a ConnectButtonVisual) through the
// disc's fill, a symbol, a coloured glow and a ring that is still or pulsing; it
// decides nothing itself. `clicked` fires once per press while `canInteract`.
// The frame is (diameter + ringReserve) square; the home window uses 116 / 44 / 40.
// Changes of `visual` ease over 0.35 s; with reduce motion nothing animates, the
// pulsing ring becomes a still one (0.45, diameter + 18) and the symbol stops pulsing.
T.AbstractButton {
    id: button

    property int visual: ConnectButtonVisual.Idle
    property bool canInteract: true
    property string accessibilityLabel
    property string accessibilityHint
    property real diameter: 116
    property real iconSize: 44
    property real ringReserve: 40
    property bool reduceMotion: Brand.reduceMotion
    // Shown in a window on screen; no animation runs otherwise.
    readonly property bool onScreen: WindowExposure.exposed

    // Idle while a press may not act: grey disc, secondary symbol, no glow, dimmed.
    readonly property bool inactive: visual === ConnectButtonVisual.Idle && !canInteract
    readonly property bool pulsing: visual === ConnectButtonVisual.Progress || visual === ConnectButtonVisual.Verified

    readonly property color discColor: {
        switch (visual) {
        case ConnectButtonVisual.Progress: return Brand.warning
        case ConnectButtonVisual.ConnectedChecking: return Brand.mintSoft
        case ConnectButtonVisual.Verified: return Brand.success
        case ConnectButtonVisual.Failed: return Brand.danger
        default: return Brand.systemGray
        }
    }
    readonly property color ringColor: {
        switch (visual) {
        case ConnectButtonVisual.Progress: return Brand.warning
        case ConnectButtonVisual.ConnectedChecking:
        case ConnectButtonVisual.Verified: return Brand.mint
        case ConnectButtonVisual.Failed: return Brand.danger
        default: return "transparent"
        }
    }
    readonly property color glowColor: {
        switch (visual) {
        case ConnectButtonVisual.Progress: return Brand.warning
        case ConnectButtonVisual.ConnectedChecking:
        case ConnectButtonVisual.Verified: return Brand.mint
        case ConnectButtonVisual.Failed: return Brand.danger
        default: return Brand.accent
        }
    }
    readonly property real glowOpacity: {
        switch (visual) {
        case ConnectButtonVisual.Idle: return canInteract ? 0.3 : 0
        case ConnectButtonVisual.ConnectedChecking: return 0.18
        case ConnectButtonVisual.Verified: return 0.45
        default: return 0.3
        }
    }
    readonly property real glowRadius: visual === ConnectButtonVisual.Verified ? 26 : 22
    readonly property string symbolName: {
        switch (visual) {
        case ConnectButtonVisual.Idle: return "power"
        case ConnectButtonVisual.Progress: return "ellipsis"
        default: return "bolt.fill"
        }
    }

    enabled: canInteract
    padding: 0
    implicitWidth: diameter + ringReserve
    implicitHeight: diameter + ringReserve
    opacity: inactive ? 0.45 : 1.0
    Accessible.role: Accessible.Button
    Accessible.name: accessibilityLabel
    Accessible.description: accessibilityHint

    Behavior on opacity {
        enabled: !button.reduceMotion
        NumberAnimation { duration: 350; easing.type: Easing.InOutQuad }
    }

    contentItem: Item {
        implicitWidth: button.diameter + button.ringReserve
        implicitHeight: button.diameter + button.ringReserve

        // Still ring: the checking and failed states, and the pulsing states with
        // reduced motion.
        Rectangle {
            objectName: "stillRing"
            readonly property bool steadyPulse: button.pulsing && button.reduceMotion
            anchors.centerIn: parent
            visible: button.visual === ConnectButtonVisual.ConnectedChecking
                     || button.visual === ConnectButtonVisual.Failed || steadyPulse
            // Strokes are centred on the nominal circle, half the line outside it.
            width: button.diameter + (steadyPulse ? 18 : 14) + border.width
            height: width
            radius: width / 2
            color: "transparent"
            border.width: 2
            border.color: Qt.rgba(button.ringColor.r, button.ringColor.g, button.ringColor.b,
                                  steadyPulse ? 0.45 : 0.3)
        }
        Rectangle {
            id: pulseRing
            objectName: "pulseRing"
            property real phase
            anchors.centerIn: parent
            visible: button.pulsing && !button.reduceMotion
            width: button.diameter + border.width
            height: width
            radius: width / 2
            color: "transparent"
            border.width: 2
            border.color: button.ringColor
            scale: 1 + 0.16 * phase
            opacity: (1 - phase) * 0.6

            SequentialAnimation on phase {
                running: pulseRing.visible && button.onScreen
                loops: Animation.Infinite
                NumberAnimation { from: 0; to: 1; duration: 1300; easing.type: Easing.OutQuad }
                NumberAnimation { from: 1; to: 0; duration: 1300; easing.type: Easing.OutQuad }
            }
        }

        BrandShadow {
            objectName: "shadow"
            target: disc
            shapeRadius: button.diameter / 2
            elevation: Elevation.Button
        }
        BrandShadow {
            objectName: "glow"
            target: disc
            shapeRadius: button.diameter / 2
            color: Qt.rgba(button.glowColor.r, button.glowColor.g, button.glowColor.b, button.glowOpacity)
            glowRadius: button.glowRadius
            offsetX: 0
            offsetY: 0

            Behavior on color {
                enabled: !button.reduceMotion
                ColorAnimation { duration: 350; easing.type: Easing.InOutQuad }
            }
        }

        Item {
            id: disc
            anchors.centerIn: parent
            width: button.diameter
            height: button.diameter

            DiagonalGradient {
                id: gradientDisc
                objectName: "discGradient"
                anchors.fill: parent
                visible: button.visual === ConnectButtonVisual.Idle && button.canInteract
                radius: width / 2
                startColor: Brand.accent
                endColor: Brand.accentDeep
            }
            Rectangle {
                objectName: "discFill"
                anchors.fill: parent
                visible: !gradientDisc.visible
                radius: width / 2
                color: button.discColor

                Behavior on color {
                    enabled: !button.reduceMotion
                    ColorAnimation { duration: 350; easing.type: Easing.InOutQuad }
                }
            }
        }

        SymbolIcon {
            id: symbol
            objectName: "symbol"
            anchors.centerIn: parent
            name: button.symbolName
            size: button.iconSize
            color: button.inactive ? Brand.textSecondary : Brand.onAccent

            SequentialAnimation on opacity {
                id: symbolPulse
                running: button.visual === ConnectButtonVisual.Progress && !button.reduceMotion && symbol.visible
                         && button.onScreen
                loops: Animation.Infinite
                onRunningChanged: if (!running) symbol.opacity = 1
                NumberAnimation { to: 0.35; duration: 650; easing.type: Easing.InOutQuad }
                NumberAnimation { to: 1; duration: 650; easing.type: Easing.InOutQuad }
            }
        }
    }
}
