import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Account

// The tariff screen over its BuyModel: the header, then the body the model chooses
// (the Telegram gate, the skeleton placeholder, the error card, or the plans with the
// included features), and the continue bar pinned to the bottom edge while the model
// shows it; the scrolling content ends above the bar. The plans are the rows of a
// ListView (header and features card as its header and footer), so only the cards
// on screen exist. The gate pushes a new settings screen on this page's stack.
AccountPage {
    id: page

    readonly property BuyModel buy: model
    readonly property bool showsPlans: buy.body === BuyBody.List && buy.planCount > 0

    function pushSettings() {
        const stack = T.StackView.view
        if (!stack)
            return
        stack.push(Qt.resolvedUrl("SettingsView.qml"), {model: page.buy.makeSettings()},
                   Brand.reduceMotion ? T.StackView.Immediate : T.StackView.PushTransition)
    }

    ListView {
        id: list
        objectName: "planList"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: bar.visible ? bar.top : parent.bottom
        clip: true
        topMargin: 16
        bottomMargin: 16
        spacing: 16
        boundsBehavior: Flickable.StopAtBounds
        model: page.buy.body === BuyBody.List ? page.buy.plans : null

        T.ScrollBar.vertical: T.ScrollBar {
            id: scrollBar
            objectName: "scrollBar"
            policy: T.ScrollBar.AsNeeded
            visible: size < 1.0
            minimumSize: 0.05
            padding: 2
            implicitWidth: 10
            contentItem: Rectangle {
                implicitWidth: 6
                radius: width / 2
                color: Brand.textTertiary
                opacity: scrollBar.pressed ? 0.9 : 0.6
            }
        }

        header: Item {
            width: list.width
            height: headerColumn.implicitHeight + (page.showsPlans ? 24 : 0)

            ColumnLayout {
                id: headerColumn
                x: 24
                width: parent.width - 48
                spacing: 24

                ColumnLayout {
                    objectName: "header"
                    Layout.fillWidth: true
                    spacing: 4

                    Text {
                        objectName: "headerTitle"
                        Layout.fillWidth: true
                        text: page.buy.texts.header
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font: Brand.withWeight(Brand.titleFont, Font.DemiBold)
                        color: Brand.textPrimary
                        Accessible.role: Accessible.Heading
                        Accessible.name: text
                    }
                    Text {
                        objectName: "headerSubtitle"
                        Layout.fillWidth: true
                        text: page.buy.texts.subheader
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font: Brand.subheadlineFont
                        color: Brand.textSecondary
                    }
                }

                TelegramGateCard {
                    objectName: "gate"
                    visible: page.buy.body === BuyBody.Gate
                    title: page.buy.texts.gateTitle
                    reason: page.buy.texts.gateReason
                    actionTitle: page.buy.texts.gateAction
                    actionHint: page.buy.texts.gateHint
                    onActionClicked: page.pushSettings()
                }
                TariffPlaceholder {
                    objectName: "placeholder"
                    visible: page.buy.body === BuyBody.Placeholder
                    label: page.buy.texts.loading
                }
                TariffErrorCard {
                    objectName: "errorCard"
                    visible: page.buy.body === BuyBody.Error
                    title: page.buy.texts.loadError
                    errorText: page.buy.loadErrorText
                    retryTitle: page.buy.texts.retry
                    onRetryClicked: page.buy.retry()
                }
            }
        }

        delegate: Item {
            id: row

            required property int index
            required property string planID
            required property var card

            objectName: "plan" + index
            width: list.width
            height: button.implicitHeight

            TariffButton {
                id: button
                objectName: "planButton" + row.index
                x: 24
                width: parent.width - 48
                height: parent.height
                card: row.card
                onClicked: page.buy.select(row.planID)
            }
        }

        footer: Item {
            width: list.width
            height: page.showsPlans ? features.implicitHeight + 24 : 0

            IncludedFeaturesCard {
                id: features
                objectName: "includedFeatures"
                visible: page.showsPlans
                x: 24
                y: 24
                width: parent.width - 48
                features: page.buy.includedFeatures
            }
        }
    }

    ContinueBar {
        id: bar
        objectName: "continueBar"
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: implicitHeight
        visible: page.buy.showsContinueBar
        title: page.buy.continueTitle
        canContinue: page.buy.canContinue
        onContinueClicked: page.buy.continueToPayment(page.Window.window)
    }
}
