import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Diagnostics

// The technical-details disclosure: a header the user clicks to expand or collapse
// it, and below it, built only while expanded, the result cards.
ColumnLayout {
    id: details

    required property DiagnosticsView model

    spacing: 0

    T.AbstractButton {
        id: header
        objectName: "disclosure"
        text: details.model.technicalDetailsTitle
        topPadding: 4
        bottomPadding: 4
        implicitWidth: implicitContentWidth + leftPadding + rightPadding
        implicitHeight: implicitContentHeight + topPadding + bottomPadding
        Layout.fillWidth: true
        Accessible.role: Accessible.Button
        Accessible.name: text
        Accessible.checkable: true
        Accessible.checked: details.model.showTechnicalDetails
        onClicked: details.model.toggleTechnicalDetails()

        contentItem: Row {
            spacing: 4

            SymbolIcon {
                objectName: "disclosureChevron"
                name: "chevron.right"
                size: 16
                color: Brand.textPrimary
                rotation: details.model.showTechnicalDetails ? 90 : 0
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                objectName: "disclosureTitle"
                text: header.text
                textFormat: Text.PlainText
                font: Brand.bodyFont
                color: Brand.textPrimary
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }

    Loader {
        objectName: "detailsLoader"
        active: details.model.showTechnicalDetails
        visible: active
        Layout.fillWidth: true
        Layout.topMargin: 8

        sourceComponent: Component {
            ColumnLayout {
                spacing: 8

                // The runner's report: one card per probe, in report order.
                Repeater {
                    // The lint of Qt 6.4 does not see this file's ids inside a component.
                    model: details.model.probeCards // qmllint disable unqualified

                    ProbeResultCard {
                        required property var modelData
                        probe: modelData
                    }
                }
                // Further result cards follow here in this order: the tunnel's status and
                // the reliability engine (from the report), the last start-up, the fetched
                // configuration, the in-tunnel self-test.
                // qmllint disable unqualified
                ResultCard {
                    objectName: "tunnelStatusCard"
                    model: details.model
                    fields: details.model.detailCards.tunnelStatus
                }
                ResultCard {
                    objectName: "reliabilityCard"
                    model: details.model
                    fields: details.model.detailCards.reliability
                }
                ResultCard {
                    objectName: "lastStartupCard"
                    model: details.model
                    fields: details.model.detailCards.lastStartup
                }
                ResultCard {
                    objectName: "fetchedConfigCard"
                    model: details.model
                    fields: details.model.detailCards.fetchedConfig
                }
                // qmllint enable unqualified
                ConnectivityCheckSection {
                    model: details.model.connectivityCheck // qmllint disable unqualified
                    Layout.fillWidth: true
                }
            }
        }
    }
}
