import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Account

// The subscription detail screen over its SubscriptionDetailModel: status, traffic
// and expiry sections (or the empty state without a subscription), the support
// section, and under the list the full-width buy button, which pushes a new tariff
// screen on the stack that holds this page.
AccountPage {
    id: page

    readonly property SubscriptionDetailModel detail: model
    readonly property T.StackView stack: T.StackView.view

    PageNavigator {
        id: navigator
        stack: page.stack
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        InsetList {
            Layout.fillWidth: true
            Layout.fillHeight: true

            InsetSection {
                objectName: "statusSection"
                visible: page.detail.hasSubscription

                RowLayout {
                    Layout.fillWidth: true
                    Layout.leftMargin: 12
                    Layout.rightMargin: 12
                    Layout.topMargin: 8
                    Layout.bottomMargin: 8
                    spacing: 8

                    Text {
                        Layout.fillWidth: true
                        text: page.detail.texts.status
                        textFormat: Text.PlainText
                        font: Brand.bodyFont
                        color: Brand.textPrimary
                    }
                    SubscriptionStatusPill {
                        objectName: "statusPill"
                        style: page.detail.pillStyle
                    }
                }
            }

            InsetSection {
                objectName: "trafficSection"
                visible: page.detail.hasSubscription

                InsetRow {
                    objectName: "trafficRow"
                    title: page.detail.texts.quota
                    value: page.detail.trafficText
                    valueFont: Brand.numericFont
                    valueColor: Brand.textPrimary
                }
                // Padded inside an item, so the section's hairline lies at its top edge.
                Item {
                    Layout.fillWidth: true
                    implicitHeight: usage.implicitHeight + 20

                    ColumnLayout {
                        id: usage
                        x: 12
                        y: 10
                        width: parent.width - 24
                        spacing: 4

                        UsageBar {
                            objectName: "usageBar"
                            Layout.fillWidth: true
                            fraction: page.detail.usageFraction
                            tint: page.detail.usageTint
                            Accessible.name: usedPercent.text
                        }
                        Text {
                            id: usedPercent
                            objectName: "usedPercent"
                            text: page.detail.usedPercentText
                            textFormat: Text.PlainText
                            font: Brand.captionFont
                            color: Brand.textSecondary
                        }
                    }
                }
            }

            InsetSection {
                objectName: "expirySection"
                visible: page.detail.hasSubscription

                InsetRow {
                    objectName: "expiresRow"
                    title: page.detail.texts.expires
                    value: page.detail.expiresText
                }
                InsetRow {
                    objectName: "remainingRow"
                    title: page.detail.texts.remaining
                    value: page.detail.remainingText
                }
            }

            InsetSection {
                objectName: "emptySection"
                visible: !page.detail.hasSubscription

                ColumnLayout {
                    Layout.fillWidth: true
                    Layout.topMargin: 24
                    Layout.bottomMargin: 24
                    Layout.leftMargin: 16
                    Layout.rightMargin: 16
                    spacing: 8
                    Accessible.role: Accessible.StaticText
                    Accessible.name: page.detail.texts.emptyTitle + ". " + page.detail.texts.emptyHint

                    SymbolIcon {
                        objectName: "emptySymbol"
                        Layout.alignment: Qt.AlignHCenter
                        name: page.detail.texts.emptySymbol
                        size: 40
                        color: Brand.textSecondary
                    }
                    Text {
                        objectName: "emptyTitle"
                        Layout.fillWidth: true
                        text: page.detail.texts.emptyTitle
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        horizontalAlignment: Text.AlignHCenter
                        font: Brand.withWeight(Brand.titleFont, Font.Bold)
                        color: Brand.textPrimary
                        Accessible.ignored: true
                    }
                    Text {
                        objectName: "emptyHint"
                        Layout.fillWidth: true
                        text: page.detail.texts.emptyHint
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        horizontalAlignment: Text.AlignHCenter
                        font: Brand.calloutFont
                        color: Brand.textSecondary
                        Accessible.ignored: true
                    }
                }
            }

            InsetSection {
                objectName: "supportSection"
                header: page.detail.texts.supportHeader
                footer: page.detail.supportFooter

                RowLayout {
                    objectName: "accountIdRow"
                    visible: page.detail.accountId.length > 0
                    Layout.fillWidth: true
                    Layout.leftMargin: 12
                    Layout.rightMargin: 8
                    Layout.topMargin: 4
                    Layout.bottomMargin: 4
                    spacing: 8

                    TextEdit {
                        objectName: "accountId"
                        Layout.fillWidth: true
                        Layout.minimumWidth: 0
                        text: page.detail.accountId
                        textFormat: TextEdit.PlainText
                        readOnly: true
                        selectByMouse: true
                        wrapMode: TextEdit.WrapAnywhere
                        font: Brand.numericFont
                        color: Brand.textSecondary
                        selectionColor: Brand.accent
                        selectedTextColor: Brand.onAccent
                    }
                    CopyButton {
                        objectName: "copyAccountId"
                        iconOnly: true
                        label: page.detail.accountIdCopy
                        onClicked: page.detail.copyAccountID()
                    }
                }
                CopyButton {
                    objectName: "copyLink"
                    visible: page.detail.showsLinkRows
                    label: page.detail.linkCopy
                    onClicked: page.detail.copySubscriptionLink()
                }
                CopyButton {
                    objectName: "shareLink"
                    visible: page.detail.showsShare
                    label: page.detail.shareCopy
                    onClicked: page.detail.shareSubscriptionLink()
                }
                ContactSupportRow {
                    contact: page.detail.supportContact
                    titleColor: Brand.textPrimary
                }
            }
        }

        BrandButton {
            objectName: "buyButton"
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.topMargin: 8
            Layout.bottomMargin: 24
            kind: ButtonKind.Primary
            fullWidth: true
            text: page.detail.buyLink.title
            onClicked: navigator.open(page.detail.buyLink)
        }
    }
}
