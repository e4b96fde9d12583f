import QtQuick
import QtQuick.Layouts
import Kovra.Design
import Kovra.Account

// The payment sheet's method list: the heading and the plan, one inset section with
// the method rows, the error row (only with an error) and the pay button, which shows
// a spinner and `payTitle` while `isPaying`. A pure view of the values it is given
// (PaymentMethodSheet's texts and rows); taps come back as selectRequested(method)
// and payRequested().
ColumnLayout {
    id: chooser

    property string title
    property string subtitle
    property var methods: []
    property bool isPaying: false
    property string payTitle
    property string errorText
    property bool reduceMotion: Brand.reduceMotion

    signal selectRequested(int method)
    signal payRequested()

    spacing: 0

    ColumnLayout {
        objectName: "header"
        Layout.fillWidth: true
        Layout.leftMargin: 24
        Layout.rightMargin: 24
        Layout.topMargin: 24
        Layout.bottomMargin: 8
        spacing: 4

        Text {
            objectName: "chooserTitle"
            Layout.fillWidth: true
            text: chooser.title
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Brand.titleFont
            color: Brand.textPrimary
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        Text {
            objectName: "chooserSubtitle"
            Layout.fillWidth: true
            text: chooser.subtitle
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Brand.subheadlineFont
            color: Brand.textSecondary
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
    }

    InsetSection {
        objectName: "methodList"
        Layout.leftMargin: 24
        Layout.rightMargin: 24
        Layout.topMargin: 8

        PaymentMethodRow {
            objectName: "starsRow"
            method: chooser.methods.length > 0 ? chooser.methods[0] : ({})
            onClicked: chooser.selectRequested(method.method)
        }
        PaymentMethodRow {
            objectName: "cryptoRow"
            method: chooser.methods.length > 1 ? chooser.methods[1] : ({})
            onClicked: chooser.selectRequested(method.method)
        }
    }

    Item {
        Layout.fillHeight: true
        Layout.minimumHeight: 16
    }

    ColumnLayout {
        objectName: "footer"
        Layout.fillWidth: true
        Layout.leftMargin: 24
        Layout.rightMargin: 24
        Layout.bottomMargin: 24
        spacing: 8

        Rectangle {
            objectName: "errorRow"
            Layout.fillWidth: true
            visible: chooser.errorText.length > 0
            implicitHeight: errorContent.implicitHeight + 16
            radius: 12
            color: Qt.rgba(Brand.danger.r, Brand.danger.g, Brand.danger.b, 0.1)
            Accessible.role: Accessible.StaticText
            Accessible.name: chooser.errorText

            RowLayout {
                id: errorContent
                anchors.fill: parent
                anchors.margins: 8
                spacing: 8

                SymbolIcon {
                    objectName: "errorSymbol"
                    Layout.alignment: Qt.AlignTop
                    name: "exclamationmark.triangle.fill"
                    size: 14
                    color: Brand.danger
                }
                TextEdit {
                    objectName: "errorText"
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignTop
                    text: chooser.errorText
                    textFormat: TextEdit.PlainText
                    readOnly: true
                    selectByMouse: true
                    wrapMode: TextEdit.Wrap
                    font: Brand.captionFont
                    color: Brand.textSecondary
                    selectionColor: Brand.accent
                    selectedTextColor: Brand.onAccent
                    Accessible.ignored: true
                }
            }
        }

        BrandButton {
            id: payButton
            objectName: "payButton"
            fullWidth: true
            kind: ButtonKind.Primary
            enabled: !chooser.isPaying
            text: chooser.payTitle
            reduceMotion: chooser.reduceMotion
            onClicked: chooser.payRequested()

            contentItem: Item {
                implicitWidth: payLabel.implicitWidth + (paySpinner.visible ? paySpinner.width + 8 : 0)
                implicitHeight: Math.max(payLabel.implicitHeight, paySpinner.height)

                Row {
                    anchors.centerIn: parent
                    spacing: 8

                    WaitingSpinner {
                        id: paySpinner
                        objectName: "paySpinner"
                        anchors.verticalCenter: parent.verticalCenter
                        visible: chooser.isPaying
                        size: 16
                        color: "white"
                    }
                    Text {
                        id: payLabel
                        objectName: "payLabel"
                        anchors.verticalCenter: parent.verticalCenter
                        text: payButton.text
                        textFormat: Text.PlainText
                        font: payButton.font
                        color: Brand.onAccent
                    }
                }
            }
        }
    }
}
