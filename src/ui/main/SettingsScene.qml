import QtQuick
import QtQuick.Controls as C
import QtQuick.Layouts
import Kovra.Design
import Kovra.Account as Account
import Kovra.Main

// The settings window's content, a 540 by 620 frame centred in the window. While
// signed in: a tool row (a back control while a page is pushed, the current page's
// title) over a stack whose root is a settings screen made for this sign-in; pages
// are pushed without animation under reduce motion. Signed out: the placeholder
// (symbol, title, hint), no actions. A sign-in or sign-out swaps the content here.
Item {
    id: scene

    required property SettingsSceneModel model

    objectName: "settingsScene"
    implicitWidth: model.size.width
    implicitHeight: model.size.height

    BrandBackdrop {
        anchors.fill: parent
    }

    Item {
        id: frame
        objectName: "settingsFrame"
        anchors.centerIn: parent
        width: scene.model.size.width
        height: scene.model.size.height

        Loader {
            objectName: "settingsSlot"
            anchors.fill: parent
            sourceComponent: scene.model.signedIn ? signedInContent : placeholder
        }
    }

    Component {
        id: signedInContent

        ColumnLayout {
            spacing: 0

            RowLayout {
                objectName: "settingsToolRow"
                Layout.fillWidth: true
                Layout.leftMargin: 16
                Layout.rightMargin: 16
                Layout.topMargin: 8
                Layout.bottomMargin: 8
                spacing: 4

                HomeToolButton {
                    objectName: "settingsBackButton"
                    visible: stack.depth > 1
                    symbol: "chevron.left"
                    label: scene.model.backLabel
                    onClicked: stack.pop(stack.get(stack.depth - 2),
                                         Brand.reduceMotion ? C.StackView.Immediate : C.StackView.PopTransition)
                }
                Text {
                    objectName: "settingsTitle"
                    Layout.fillWidth: true
                    Layout.leftMargin: 4
                    Layout.preferredHeight: 28
                    verticalAlignment: Text.AlignVCenter
                    text: stack.currentItem && stack.currentItem.title !== undefined ? stack.currentItem.title : ""
                    textFormat: Text.PlainText
                    font: Brand.headlineFont
                    color: Brand.textPrimary
                    elide: Text.ElideRight
                    Accessible.role: Accessible.Heading
                    Accessible.name: text
                }
            }
            Rectangle {
                Layout.fillWidth: true
                implicitHeight: 1
                color: Brand.separator
            }
            C.StackView {
                id: stack
                objectName: "settingsStack"
                clip: true
                Layout.fillWidth: true
                Layout.fillHeight: true

                Component.onCompleted: push(settingsPage, {model: scene.model.makeSettings()}, C.StackView.Immediate)
            }
        }
    }

    Component {
        id: settingsPage

        Account.SettingsView {}
    }

    Component {
        id: placeholder

        Item {
            ColumnLayout {
                objectName: "signedOutPlaceholder"
                anchors.centerIn: parent
                width: Math.min(implicitWidth, parent.width - 80)
                spacing: 8
                Accessible.role: Accessible.StaticText
                Accessible.name: scene.model.placeholderTitle
                Accessible.description: scene.model.placeholderHint

                SymbolIcon {
                    objectName: "placeholderSymbol"
                    Layout.alignment: Qt.AlignHCenter
                    Layout.bottomMargin: 8
                    name: scene.model.placeholderSymbol
                    size: 48
                    color: Brand.textSecondary
                }
                Text {
                    objectName: "placeholderTitle"
                    Layout.fillWidth: true
                    text: scene.model.placeholderTitle
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    horizontalAlignment: Text.AlignHCenter
                    font: Brand.withWeight(Brand.titleFont, Font.Bold)
                    color: Brand.textPrimary
                }
                Text {
                    objectName: "placeholderHint"
                    Layout.fillWidth: true
                    text: scene.model.placeholderHint
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    horizontalAlignment: Text.AlignHCenter
                    font: Brand.calloutFont
                    color: Brand.textSecondary
                }
            }
        }
    }
}
