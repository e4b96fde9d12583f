import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Account

// The home window's subscription card over its SubscriptionStripModel: a header row
// (title, status pill, chevron) that pushes a new detail screen on `stack`, then the
// usage with the call-to-action button, the loading placeholder, the error row or the
// empty row, as the model's state says. The content sits at the top left and is at
// least the model's minHeight high.
BrandCard {
    id: card

    required property SubscriptionStripModel model
    // The navigation stack that holds the card.
    property T.StackView stack: null

    readonly property int stripState: model.state

    padding: 16
    elevation: Elevation.Card

    PageNavigator {
        id: navigator
        stack: card.stack
    }

    Item {
        width: card.availableWidth
        implicitWidth: column.implicitWidth
        implicitHeight: Math.max(card.model.minHeight, column.implicitHeight)

        ColumnLayout {
            id: column
            width: parent.width
            spacing: 8

            T.AbstractButton {
                id: header
                objectName: "stripHeader"
                Layout.fillWidth: true
                implicitHeight: headerRow.implicitHeight
                padding: 0
                hoverEnabled: true
                Accessible.role: Accessible.Button
                Accessible.name: card.model.texts.title
                Accessible.description: card.model.texts.detailHint
                onClicked: navigator.open(card.model.detailLink)

                contentItem: RowLayout {
                    id: headerRow
                    spacing: 8

                    Text {
                        objectName: "stripTitle"
                        text: card.model.texts.title
                        textFormat: Text.PlainText
                        font: Brand.withWeight(Brand.subheadlineFont, Font.DemiBold)
                        color: Brand.textPrimary
                    }
                    SubscriptionStatusPill {
                        objectName: "stripPill"
                        visible: card.model.hasSubscription
                        style: card.model.pillStyle
                    }
                    Item {
                        Layout.fillWidth: true
                        Layout.minimumWidth: 4
                    }
                    SymbolIcon {
                        name: "chevron.right"
                        size: 14
                        color: Brand.textSecondary
                    }
                }
            }

            ColumnLayout {
                objectName: "stripUsage"
                visible: card.stripState === SubscriptionStripState.Loaded
                Layout.fillWidth: true
                spacing: 4
                Accessible.role: Accessible.StaticText
                Accessible.name: card.model.trafficText + ", " + card.model.expiryText

                UsageBar {
                    objectName: "usageBar"
                    Layout.fillWidth: true
                    fraction: card.model.usageFraction
                    tint: card.model.usageTint
                    Accessible.ignored: true
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 8

                    Text {
                        objectName: "stripTraffic"
                        text: card.model.trafficText
                        textFormat: Text.PlainText
                        font: Brand.monoFont
                        color: Brand.textPrimary
                        Accessible.ignored: true
                    }
                    Item {
                        Layout.fillWidth: true
                        Layout.minimumWidth: 4
                    }
                    Text {
                        objectName: "stripExpiry"
                        text: card.model.expiryText
                        textFormat: Text.PlainText
                        font: Brand.captionFont
                        color: Brand.textSecondary
                        Accessible.ignored: true
                    }
                }
            }

            SubscriptionCTAButton {
                objectName: "stripCallToAction"
                visible: card.stripState === SubscriptionStripState.Loaded && card.model.showsCallToAction
                Layout.fillWidth: true
                link: card.model.callToAction
                stack: card.stack
            }

            BrandShimmer {
                objectName: "stripPlaceholder"
                visible: card.stripState === SubscriptionStripState.Loading
                Layout.fillWidth: true
                Accessible.role: Accessible.StaticText
                Accessible.name: card.model.texts.loading

                contentItem: ColumnLayout {
                    spacing: 4

                    SkeletonBlock {
                        blockHeight: 8
                        cornerRadius: 3
                    }
                    RowLayout {
                        Layout.fillWidth: true

                        SkeletonBlock {
                            blockWidth: 96
                            blockHeight: 12
                            cornerRadius: 6
                        }
                        Item {
                            Layout.fillWidth: true
                        }
                        SkeletonBlock {
                            blockWidth: 70
                            blockHeight: 12
                            cornerRadius: 6
                        }
                    }
                }
            }

            RowLayout {
                objectName: "stripError"
                visible: card.stripState === SubscriptionStripState.Failed
                Layout.fillWidth: true
                spacing: 8

                TextEdit {
                    objectName: "stripErrorText"
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignBaseline
                    Layout.maximumHeight: errorMetrics.lineSpacing * 2
                    clip: true
                    text: card.model.errorText
                    textFormat: TextEdit.PlainText
                    readOnly: true
                    selectByMouse: true
                    wrapMode: TextEdit.Wrap
                    font: Brand.captionFont
                    color: Brand.textSecondary
                    selectionColor: Brand.accent
                    selectedTextColor: Brand.onAccent

                    FontMetrics {
                        id: errorMetrics
                        font: Brand.captionFont
                    }
                }
                SmallPushButton {
                    objectName: "stripRetry"
                    Layout.alignment: Qt.AlignBaseline
                    Layout.leftMargin: 4
                    text: card.model.texts.retry
                    onClicked: card.model.retry()
                }
            }

            RowLayout {
                objectName: "stripEmpty"
                visible: card.stripState === SubscriptionStripState.Empty
                Layout.fillWidth: true
                spacing: 8

                Text {
                    objectName: "stripEmptyHint"
                    Layout.fillWidth: true
                    text: card.model.texts.emptyHint
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    maximumLineCount: 2
                    elide: Text.ElideRight
                    font: Brand.captionFont
                    color: Brand.textSecondary
                }
                SmallPushButton {
                    objectName: "stripRefresh"
                    Layout.leftMargin: 4
                    text: card.model.texts.refresh
                    onClicked: card.model.retry()
                }
            }
        }
    }
}
