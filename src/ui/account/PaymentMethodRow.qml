import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design

// One payment method of the payment sheet: the method's symbol (in the accent colour
// when chosen) in a 28-wide frame, its title above its price, and a check mark when
// chosen. The whole row is one button; a screen reader hears "<title>, <price>" and
// whether it is chosen. `method` is one entry of PaymentMethodSheet.methods.
T.AbstractButton {
    id: row

    property var method: ({})
    readonly property bool chosen: method.selected === true

    Layout.fillWidth: true
    implicitWidth: content.implicitWidth + leftPadding + rightPadding
    implicitHeight: content.implicitHeight + topPadding + bottomPadding
    leftPadding: 12
    rightPadding: 12
    topPadding: 10
    bottomPadding: 10
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus

    Accessible.role: Accessible.Button
    Accessible.name: method.accessibleName || ""
    Accessible.checkable: true
    Accessible.checked: chosen

    background: Rectangle {
        radius: 10
        color: Brand.textPrimary
        opacity: row.down ? 0.08 : row.hovered ? 0.04 : 0
    }

    contentItem: RowLayout {
        id: content
        spacing: 16

        SymbolIcon {
            objectName: "methodSymbol"
            name: row.method.symbol || ""
            size: 20
            color: row.chosen ? Brand.accent : Brand.textSecondary
            Layout.preferredWidth: 28
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2

            Text {
                objectName: "methodTitle"
                Layout.fillWidth: true
                text: row.method.title || ""
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font: Brand.bodyFont
                color: Brand.textPrimary
                Accessible.ignored: true
            }
            Text {
                objectName: "methodPrice"
                Layout.fillWidth: true
                text: row.method.price || ""
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font: Brand.subheadlineFont
                color: Brand.textSecondary
                Accessible.ignored: true
            }
        }
        Item {
            Layout.minimumWidth: 8
            Layout.preferredWidth: 8
        }
        SymbolIcon {
            objectName: "methodCheckmark"
            visible: row.chosen
            name: "checkmark.circle.fill"
            size: 20
            color: Brand.accent
        }
    }
}
