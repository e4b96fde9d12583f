import QtQuick
import QtQuick.Controls as C
import QtQuick.Layouts
import QtQuick.Templates as T
import QtQuick.Window
import Kovra.Design
import Kovra.Account
import Kovra.Diagnostics as Diagnostics
import Kovra.Main

// The main window's content while signed in. A tool row (a back control while a page
// is pushed, the title, the diagnostics and settings buttons), then a stack whose
// root page scrolls vertically over: the notice slot, then the hero card beside the
// right column (the connection card over the subscription card). The content is at
// most 840 wide, centred, padded 24, spaced 16; the hero card is 250 wide and the
// right column at least 280.
//
// Tells its model while it is on screen (shown in a visible window) and which window
// that is, so that the model runs its appearance work and opens its sheets there.
// Pages are pushed with push(url, properties) (with reduce motion, without animation);
// the stack and its pages go with this view.
//
// The subscription card (`subscriptionCardComponent`, by default the account module's
// card over the model's `subscriptionCard`) is loaded into `subscriptionCardSlot`; its
// pages are pushed on this view's stack.
Item {
    id: home

    required property HomeModel model
    property Component subscriptionCardComponent: Component {
        SubscriptionStrip {
            model: home.model.subscriptionCard
            stack: home.pageStack
        }
    }

    readonly property alias pageStack: stack

    // Narrowest width that keeps both columns at their least widths.
    readonly property real minimumContentWidth: 24 + 250 + 16 + 280 + 24
    readonly property bool onScreen: visible && Window.window !== null && Window.window.visible
    readonly property var hostWindow: Window.window

    function push(url, properties) {
        return stack.push(url, properties, Brand.reduceMotion ? C.StackView.Immediate : C.StackView.PushTransition)
    }
    function back() {
        if (stack.depth > 1)
            stack.pop(stack.get(stack.depth - 2), Brand.reduceMotion ? C.StackView.Immediate : C.StackView.PopTransition)
    }

    objectName: "homeView"
    implicitWidth: 760
    implicitHeight: 620

    onOnScreenChanged: if (model) model.onScreen = onScreen
    onHostWindowChanged: if (model) model.window = hostWindow
    Component.onCompleted: {
        model.window = hostWindow
        model.onScreen = onScreen
    }
    // Dropped by the root view (the session ended): the home content leaves the screen.
    Component.onDestruction: if (model) model.onScreen = false

    BrandBackdrop {
        anchors.fill: parent
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            objectName: "toolRow"
            Layout.fillWidth: true
            Layout.leftMargin: 16
            Layout.rightMargin: 16
            Layout.topMargin: 8
            Layout.bottomMargin: 8
            spacing: 4

            HomeToolButton {
                objectName: "backButton"
                visible: stack.depth > 1
                symbol: "chevron.left"
                label: home.model.backLabel
                onClicked: home.back()
            }
            Text {
                objectName: "homeTitle"
                text: stack.depth > 1 && stack.currentItem && stack.currentItem.title !== undefined
                      ? stack.currentItem.title : home.model.title
                textFormat: Text.PlainText
                font: Brand.headlineFont
                color: Brand.textPrimary
                elide: Text.ElideRight
                Layout.fillWidth: true
                Layout.leftMargin: 4
                Accessible.role: Accessible.Heading
                Accessible.name: text
            }
            HomeToolButton {
                objectName: "diagnosticsButton"
                symbol: "stethoscope"
                label: home.model.diagnosticsLabel
                onClicked: home.model.openDiagnostics()
            }
            HomeToolButton {
                objectName: "settingsButton"
                symbol: "gearshape"
                label: home.model.settingsLabel
                onClicked: home.model.openSettings()
            }
        }
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: Brand.separator
        }
        C.StackView {
            id: stack
            objectName: "homeStack"
            clip: true
            initialItem: homePage
            Layout.fillWidth: true
            Layout.fillHeight: true
        }
    }

    Component {
        id: homePage

        Flickable {
            id: scroller

            readonly property real boxWidth: Math.max(Math.min(width, 840), home.minimumContentWidth)

            objectName: "homeScroll"
            contentWidth: width
            contentHeight: content.implicitHeight + 48
            boundsBehavior: Flickable.StopAtBounds
            flickableDirection: Flickable.VerticalFlick
            clip: true
            T.ScrollBar.vertical: Diagnostics.SheetScrollBar {}

            ColumnLayout {
                id: content
                objectName: "homeContent"
                x: Math.round((scroller.width - scroller.boxWidth) / 2) + 24
                y: 24
                width: scroller.boxWidth - 48
                spacing: 16

                HomeNoticeSlot {
                    notice: home.model.notice
                    minimumHeight: home.model.noticeSlotMinHeight
                }
                RowLayout {
                    objectName: "heroRow"
                    spacing: 16
                    Layout.fillWidth: true

                    HomeHeroCard {
                        model: home.model
                    }
                    ColumnLayout {
                        objectName: "rightColumn"
                        spacing: 16
                        Layout.fillWidth: true
                        Layout.minimumWidth: 280
                        Layout.alignment: Qt.AlignTop

                        HomeConnectionCard {
                            model: home.model
                        }
                        Loader {
                            objectName: "subscriptionCardSlot"
                            sourceComponent: home.subscriptionCardComponent
                            active: sourceComponent !== null && home.model.subscriptionCard !== null
                            Layout.fillWidth: true
                        }
                    }
                }
            }
        }
    }
}
