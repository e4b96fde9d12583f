import QtQuick
import QtQuick.Layouts
import Kovra.Design

// What an empty catalogue shows: a symbol, `text` and a retry button, centred and
// padded 24 above and below. One accessibility element labelled `text`, whose
// action is the retry.
Item {
    id: empty

    property string text
    property string retryTitle

    signal retry()

    implicitWidth: content.implicitWidth
    implicitHeight: content.implicitHeight + 48

    Accessible.role: Accessible.Button
    Accessible.name: text
    Accessible.onPressAction: empty.retry()

    ColumnLayout {
        id: content
        y: 24
        width: parent.width
        spacing: 16

        SymbolIcon {
            objectName: "emptySymbol"
            name: "wifi.exclamationmark"
            size: 28
            color: Brand.textSecondary
            Layout.alignment: Qt.AlignHCenter
        }
        Text {
            objectName: "emptyText"
            text: empty.text
            textFormat: Text.PlainText
            font: Brand.subheadlineFont
            color: Brand.textSecondary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            Layout.fillWidth: true
            Accessible.ignored: true
        }
        PickerBorderedButton {
            objectName: "retryButton"
            text: empty.retryTitle
            symbol: "arrow.clockwise"
            Layout.alignment: Qt.AlignHCenter
            Accessible.ignored: true
            onClicked: empty.retry()
        }
    }
}
