import QtQuick
import QtQuick.Layouts
import Qt5Compat.GraphicalEffects
import Kovra.Design
import Kovra.Main

// The main window's content while signed out: over the backdrop, centred and padded
// 32, the header (the shield tile, the title and the subtitle) and, at most 360 wide,
// the panel the model chooses: the sign-in panel (the last error, the Telegram
// button) or the waiting panel (progress, hint, reopen and cancel).
Item {
    id: login

    required property LoginModel model

    objectName: "loginView"
    implicitWidth: 780
    implicitHeight: 520

    BrandBackdrop {
        anchors.fill: parent
    }

    ColumnLayout {
        id: column
        objectName: "loginColumn"
        anchors.centerIn: parent
        width: Math.min(implicitWidth, login.width - 64)
        spacing: 24

        ColumnLayout {
            objectName: "loginHeader"
            Layout.alignment: Qt.AlignHCenter
            spacing: 16

            Item {
                objectName: "iconTile"
                Layout.alignment: Qt.AlignHCenter
                implicitWidth: 72
                implicitHeight: 72

                BrandShadow {
                    target: tile
                    shapeRadius: tile.radius
                    elevation: Elevation.Button
                }
                Rectangle {
                    id: tile
                    objectName: "tileFill"
                    anchors.fill: parent
                    radius: 20
                    color: Brand.surface
                }
                // The shield in the accent colour; the gradient over it where effects draw.
                SymbolIcon {
                    id: shield
                    objectName: "shield"
                    anchors.centerIn: parent
                    name: "shield.lefthalf.filled"
                    size: 36
                    color: Brand.accent
                }
                // A plain item, so the mask samples it through its own texture.
                Item {
                    id: shieldGradient
                    anchors.fill: shield
                    visible: false

                    DiagonalGradient {
                        anchors.fill: parent
                        startColor: Brand.accent
                        endColor: Brand.accentDeep
                    }
                }
                OpacityMask {
                    objectName: "shieldGradient"
                    anchors.fill: shield
                    source: shieldGradient
                    maskSource: shield
                }
            }

            ColumnLayout {
                Layout.alignment: Qt.AlignHCenter
                spacing: 8

                Text {
                    objectName: "loginTitle"
                    Layout.alignment: Qt.AlignHCenter
                    text: login.model.title
                    textFormat: Text.PlainText
                    font: Brand.largeTitleFont
                    color: Brand.textPrimary
                    Accessible.role: Accessible.Heading
                    Accessible.name: text
                }
                Text {
                    objectName: "loginSubtitle"
                    Layout.alignment: Qt.AlignHCenter
                    text: login.model.subtitle
                    textFormat: Text.PlainText
                    font: Brand.titleFont
                    color: Brand.textSecondary
                }
            }
        }

        ColumnLayout {
            id: signInPanel
            objectName: "signInPanel"
            visible: login.model.panel === LoginPanel.SignIn
            Layout.alignment: Qt.AlignHCenter
            Layout.fillWidth: true
            Layout.maximumWidth: 360
            Layout.preferredWidth: 360
            spacing: 16
            Accessible.role: Accessible.Pane
            Accessible.name: login.model.signInPanelName

            Text {
                objectName: "loginError"
                visible: login.model.showsError
                Layout.fillWidth: true
                text: login.model.errorText
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font: Brand.captionFont
                color: Brand.danger
            }
            BrandButton {
                objectName: "telegramButton"
                kind: ButtonKind.Primary
                fullWidth: true
                symbol: "paperplane.fill"
                text: login.model.signInTitle
                onClicked: login.model.signIn()
            }
        }

        ColumnLayout {
            id: waitingPanel
            objectName: "waitingPanel"
            visible: login.model.panel === LoginPanel.Waiting
            Layout.alignment: Qt.AlignHCenter
            Layout.fillWidth: true
            Layout.maximumWidth: 360
            Layout.preferredWidth: 360
            spacing: 16
            Accessible.role: Accessible.Pane
            Accessible.name: login.model.waitingPanelName

            ActivityIndicator {
                objectName: "linkingProgress"
                Layout.alignment: Qt.AlignHCenter
                size: 32
                color: Brand.accent
            }
            Text {
                objectName: "linkingTitle"
                Layout.fillWidth: true
                text: login.model.linkingTitle
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font: Brand.headlineFont
                color: Brand.textPrimary
            }
            Text {
                objectName: "linkingHint"
                Layout.fillWidth: true
                text: login.model.linkingHint
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font: Brand.calloutFont
                color: Brand.textSecondary
            }
            BrandButton {
                objectName: "reopenButton"
                kind: ButtonKind.Primary
                fullWidth: true
                text: login.model.reopenTitle
                onClicked: login.model.reopen()
            }
            BrandButton {
                objectName: "cancelButton"
                kind: ButtonKind.Secondary
                fullWidth: true
                text: login.model.cancelTitle
                onClicked: login.model.cancel()
            }
        }
    }
}
