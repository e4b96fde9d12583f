import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Main

// The menu-bar panel: 264 wide, padded 16, rows 16 apart: the status header, the
// connection line, the primary button, a divider, the subscription line (only with a
// subscription) and the three footer actions. Return presses the primary button
// while it is enabled; Escape asks to close the panel.
Rectangle {
    id: panel

    required property MenuBarModel model

    objectName: "menuBarView"
    width: 264
    implicitWidth: 264
    implicitHeight: column.implicitHeight + 2 * column.y
    height: implicitHeight
    color: Brand.background
    focus: true

    Keys.onReturnPressed: panel.model.activatePrimary()
    Keys.onEnterPressed: panel.model.activatePrimary()
    Keys.onEscapePressed: panel.model.dismiss()

    ColumnLayout {
        id: column
        x: 16
        y: 16
        width: panel.width - 2 * x
        spacing: 16

        RowLayout {
            objectName: "header"
            Layout.fillWidth: true
            spacing: 8
            Accessible.role: Accessible.StaticText
            Accessible.name: panel.model.statusText

            BrandStatusDot {
                objectName: "statusDot"
                dotState: panel.model.statusDotState
                size: 10
                glow: panel.model.statusGlow
                Layout.alignment: Qt.AlignVCenter
            }
            Text {
                objectName: "statusText"
                Layout.fillWidth: true
                text: panel.model.statusText
                textFormat: Text.PlainText
                font: Brand.withWeight(Brand.subheadlineFont, Font.DemiBold)
                color: Brand[panel.model.statusColorRole]
                wrapMode: Text.Wrap
                Accessible.ignored: true
            }
        }

        RowLayout {
            objectName: "connectionLine"
            Layout.fillWidth: true
            spacing: 8

            FlagLabel {
                objectName: "connectionLabel"
                visible: panel.model.hasConnection
                Layout.fillWidth: true
                flags: panel.model.connectionFlags
                label: panel.model.connectionLabel
                font: Brand.captionFont
                color: Brand.textPrimary
                elide: Text.ElideRight
            }
            SymbolIcon {
                objectName: "autoSymbol"
                visible: !panel.model.hasConnection
                name: "globe"
                size: Brand.captionFont.pixelSize + 3
                color: Brand.accent
            }
            Text {
                objectName: "autoLabel"
                visible: !panel.model.hasConnection
                Layout.fillWidth: true
                text: panel.model.autoLabel
                textFormat: Text.PlainText
                font: Brand.captionFont
                color: Brand.textSecondary
            }
        }

        T.Button {
            id: primary
            objectName: "primaryButton"
            Layout.fillWidth: true
            enabled: panel.model.primaryEnabled
            text: panel.model.primaryTitle
            font: Brand.headlineFont
            topPadding: 8
            bottomPadding: 8
            leftPadding: 12
            rightPadding: 12
            implicitHeight: implicitContentHeight + topPadding + bottomPadding
            focusPolicy: Qt.NoFocus
            opacity: enabled ? 1.0 : 0.5
            Accessible.role: Accessible.Button
            Accessible.name: text
            onClicked: panel.model.activatePrimary()

            contentItem: Text {
                objectName: "primaryLabel"
                text: primary.text
                font: primary.font
                textFormat: Text.PlainText
                color: Brand.onAccent
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                elide: Text.ElideRight
            }
            background: Rectangle {
                objectName: "primaryFill"
                radius: 8
                color: Brand[panel.model.primaryTint]
                Rectangle {
                    anchors.fill: parent
                    radius: parent.radius
                    color: "black"
                    opacity: primary.down ? 0.15 : 0
                }
            }
        }

        Rectangle {
            objectName: "divider"
            Layout.fillWidth: true
            implicitHeight: 1
            color: Brand.separator
        }

        RowLayout {
            objectName: "subscriptionLine"
            visible: panel.model.hasSubscription
            Layout.fillWidth: true
            spacing: 8
            Accessible.role: Accessible.StaticText
            Accessible.name: panel.model.subscriptionAccessibilityName

            Text {
                objectName: "trafficText"
                text: panel.model.trafficText
                textFormat: Text.PlainText
                font: Brand.monoFont
                color: Brand.textSecondary
                Accessible.ignored: true
            }
            Item {
                Layout.fillWidth: true
                Layout.minimumWidth: 4
            }
            Text {
                objectName: "expiryText"
                text: panel.model.expiryText
                textFormat: Text.PlainText
                font: Brand.captionFont
                color: Brand.textTertiary
                Accessible.ignored: true
            }
        }

        ColumnLayout {
            objectName: "footer"
            Layout.fillWidth: true
            // Its buttons hug their labels; the column itself spans the panel.
            Layout.maximumWidth: Number.POSITIVE_INFINITY
            spacing: 4

            MenuBarFooterButton {
                objectName: "openButton"
                text: panel.model.openTitle
                symbol: "macwindow"
                onClicked: panel.model.openMainWindow()
            }
            MenuBarFooterButton {
                objectName: "settingsButton"
                text: panel.model.settingsTitle
                symbol: "gearshape"
                onClicked: panel.model.openSettings()
            }
            MenuBarFooterButton {
                objectName: "quitButton"
                text: panel.model.quitTitle
                symbol: "power"
                onClicked: panel.model.quit()
            }
        }
    }
}
