import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Account

// The settings screen over its SettingsModel: the account's linked sign-in methods,
// routing, automation, support, about, and sign-out, in one inset list; the sign-out
// confirmation as a modal dialog over the window. The support checklist is pushed on
// the stack that holds this page.
AccountPage {
    id: page

    readonly property SettingsModel settings: model

    // The checklist page, above this one.
    function pushChecklist() {
        const stack = T.StackView.view
        if (!stack)
            return
        stack.push(Qt.resolvedUrl("SupportChecklistView.qml"), {model: page.settings.makeSupportChecklist()},
                   Brand.reduceMotion ? T.StackView.Immediate : T.StackView.PushTransition)
    }

    InsetList {
        anchors.fill: parent

        InsetSection {
            objectName: "accountSection"
            header: page.settings.texts.accountHeader

            LinkedAccountRowView {
                row: page.settings.accountRows[0]
                onTapped: page.settings.linkTap(row.account)
            }
            LinkedAccountRowView {
                row: page.settings.accountRows[1]
                onTapped: page.settings.linkTap(row.account)
            }
            LinkedAccountRowView {
                row: page.settings.accountRows[2]
                onTapped: page.settings.linkTap(row.account)
            }
            Text {
                objectName: "linkError"
                Layout.fillWidth: true
                Layout.leftMargin: 12
                Layout.rightMargin: 12
                Layout.topMargin: 8
                Layout.bottomMargin: 10
                visible: page.settings.linkError.length > 0
                text: page.settings.linkError
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Brand.captionFont
                color: Brand.danger
            }
        }

        InsetSection {
            objectName: "routingSection"
            header: page.settings.texts.routingHeader
            footer: page.settings.texts.routingFooter

            SettingSwitchRow {
                row: page.settings.switchRows[0]
                onToggledTo: on => page.settings.setSwitch(row.preference, on)
            }
            SettingSwitchRow {
                row: page.settings.switchRows[1]
                onToggledTo: on => page.settings.setSwitch(row.preference, on)
            }
            SettingSwitchRow {
                row: page.settings.switchRows[2]
                onToggledTo: on => page.settings.setSwitch(row.preference, on)
            }
        }

        InsetSection {
            objectName: "automationSection"
            header: page.settings.texts.automationHeader
            footer: page.settings.texts.automationFooter

            SettingSwitchRow {
                row: page.settings.switchRows[3]
                onToggledTo: on => page.settings.setSwitch(row.preference, on)
            }
            SettingPickerRow {
                objectName: "autoDisconnect"
                title: page.settings.texts.autoDisconnectTitle
                subtitle: page.settings.texts.autoDisconnectSubtitle
                choices: page.settings.autoDisconnectChoices
                currentIndex: page.settings.autoDisconnectIndex
                onChosen: index => page.settings.chooseAutoDisconnect(index)
            }
            SettingSwitchRow {
                row: page.settings.switchRows[4]
                onToggledTo: on => page.settings.setSwitch(row.preference, on)
            }
            SettingSwitchRow {
                row: page.settings.switchRows[5]
                onToggledTo: on => page.settings.setSwitch(row.preference, on)
            }
        }

        InsetSection {
            objectName: "supportSection"
            header: page.settings.texts.supportHeader

            ContactSupportRow {
                contact: page.settings.supportContact
            }
            InsetRow {
                objectName: "checklistLink"
                interactive: true
                title: page.settings.texts.checklist
                symbol: "questionmark.circle"
                showsChevron: true
                onClicked: page.pushChecklist()
            }
        }

        InsetSection {
            objectName: "aboutSection"
            header: page.settings.texts.aboutHeader

            InsetRow {
                objectName: "versionRow"
                title: page.settings.texts.version
                value: page.settings.version
                valueFont: Brand.monoFont
            }
            InsetRow {
                objectName: "buildRow"
                title: page.settings.texts.build
                value: page.settings.build
                valueFont: Brand.monoFont
            }
            InsetRow {
                objectName: "privacyLink"
                visible: page.settings.showsPrivacyLink
                interactive: true
                title: page.settings.texts.privacy
                symbol: "hand.raised.fill"
                titleColor: Brand.accent
                onClicked: page.settings.openPrivacyPolicy()
            }
        }

        InsetSection {
            objectName: "logoutSection"

            InsetRow {
                objectName: "logoutButton"
                interactive: true
                title: page.settings.texts.logout
                symbol: "rectangle.portrait.and.arrow.right"
                titleColor: Brand.danger
                symbolColor: Brand.danger
                onClicked: page.settings.requestLogout()
            }
        }
    }

    ConfirmationDialog {
        id: logoutConfirm
        objectName: "logoutConfirm"
        title: page.settings.texts.logoutConfirmTitle
        message: page.settings.logoutConfirmMessage
        actionTitle: page.settings.texts.logoutConfirmAction
        cancelTitle: page.settings.texts.cancel
        onDismissed: page.settings.cancelLogout()
        onAccepted: page.settings.confirmLogout()
    }

    Connections {
        target: page.settings
        function onShowLogoutConfirmChanged() {
            if (page.settings.showLogoutConfirm)
                logoutConfirm.open()
            else
                logoutConfirm.close()
        }
    }
}
