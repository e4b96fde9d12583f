import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Diagnostics

// The content of the diagnostics sheet (below the sheet's chrome): the sections in
// one vertical scroll area, the rerun and copy buttons pinned below it.
Item {
    id: sheet

    required property DiagnosticsView model

    implicitWidth: 560
    implicitHeight: 600

    BrandBackdrop {
        anchors.fill: parent
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        Flickable {
            id: scroller
            objectName: "scroller"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            contentWidth: width
            contentHeight: column.implicitHeight + 2 * 16
            boundsBehavior: Flickable.StopAtBounds
            T.ScrollBar.vertical: SheetScrollBar {}

            ColumnLayout {
                id: column
                objectName: "column"
                x: 24
                y: 16
                width: scroller.width - 2 * 24
                spacing: 16

                // Sections of the main column, top to bottom: the status line, the
                // start-up failure, the API hosts' reachability, the network triage;
                // then the technical details.
                StatusLine {
                    section: sheet.model.statusSection
                    Layout.fillWidth: true
                }
                ResultCard {
                    objectName: "startupFailureCard"
                    model: sheet.model
                    fields: sheet.model.statusSection.startupFailureCard
                }
                ControlPlaneCard {
                    model: sheet.model
                }
                TriageCard {
                    model: sheet.model
                }
                TechnicalDetails {
                    model: sheet.model
                    Layout.fillWidth: true
                }
            }
        }

        RowLayout {
            objectName: "bottomRow"
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.topMargin: 8
            Layout.bottomMargin: 16
            spacing: 8

            BrandButton {
                objectName: "rerunButton"
                kind: ButtonKind.Secondary
                fullWidth: true
                text: sheet.model.rerunTitle
                symbol: "arrow.clockwise"
                enabled: sheet.model.rerunEnabled
                onClicked: sheet.model.rerun()
            }
            BrandButton {
                objectName: "copyReportButton"
                kind: ButtonKind.Primary
                fullWidth: true
                text: sheet.model.copyTitle
                symbol: "doc.on.doc"
                enabled: sheet.model.copyReportEnabled
                onClicked: sheet.model.copyReport()
            }
        }
    }
}
