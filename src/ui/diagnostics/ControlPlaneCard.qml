import QtQuick
import QtQuick.Layouts
import Kovra.Design
import Kovra.Diagnostics

// Whether the service's API hosts answer without the tunnel: the verdict, one row per
// host and the copy control, or the running text before the first report; the rerun
// button below. Shown only while the section says so (the tunnel is not connected).
BrandCard {
    id: card

    required property DiagnosticsView model
    readonly property ControlPlanePresenter section: model.controlPlane

    objectName: "controlPlaneCard"
    visible: section.shown
    padding: 8
    elevation: Elevation.Card

    ColumnLayout {
        width: parent.width
        spacing: 4

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            Text {
                objectName: "controlPlaneTitle"
                text: card.section.title
                textFormat: Text.PlainText
                font: Brand.subheadlineFont
                color: Brand.textPrimary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            ActivityIndicator {
                objectName: "controlPlaneIndicator"
                visible: card.section.running
            }
        }
        Text {
            objectName: "controlPlaneRunningText"
            visible: !card.section.hasReport
            text: card.section.runningText
            textFormat: Text.PlainText
            font: Brand.captionFont
            color: Brand.textSecondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Text {
            objectName: "controlPlaneVerdict"
            visible: card.section.hasReport
            text: card.section.verdictTitle
            textFormat: Text.PlainText
            font: Brand.headlineFont
            color: card.section.reachable ? Brand.success : Brand.warning
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Repeater {
            objectName: "controlPlaneRows"
            model: card.section.rows

            ReportText {
                required property string modelData
                text: modelData
            }
        }
        CopyShareButtons {
            objectName: "controlPlaneCopy"
            visible: card.section.hasReport
            model: card.model
            text: card.section.plainText
        }
        CardButton {
            objectName: "controlPlaneRerun"
            text: card.section.rerunTitle
            symbol: "arrow.clockwise"
            enabled: card.section.rerunEnabled
            onClicked: card.section.rerun()
        }
    }
}
