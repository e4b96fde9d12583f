import QtQuick
import QtQuick.Layouts
import Kovra.Design
import Kovra.Diagnostics

// The detailed network check without the tunnel: its steps as they finish, then the
// summary, the steps, the copy control and the send button; the line on the last
// send; at the bottom the run button, or the notice that the tunnel must be off.
BrandCard {
    id: card

    required property DiagnosticsView model
    readonly property TriagePresenter section: model.triage

    objectName: "triageCard"
    padding: 8
    elevation: Elevation.Card

    ColumnLayout {
        width: parent.width
        spacing: 4

        RowLayout {
            Layout.fillWidth: true
            spacing: 8

            Text {
                objectName: "triageTitle"
                text: card.section.title
                textFormat: Text.PlainText
                font: Brand.subheadlineFont
                color: Brand.textPrimary
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            ActivityIndicator {
                objectName: "triageIndicator"
                visible: card.section.busy
            }
        }
        Text {
            objectName: "triageRunningText"
            visible: card.section.body === TriagePresenter.Running
            text: card.section.runningText
            textFormat: Text.PlainText
            font: Brand.captionFont
            color: Brand.textSecondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Text {
            objectName: "triageSummary"
            visible: card.section.body === TriagePresenter.Report
            text: card.section.summary
            textFormat: Text.PlainText
            font: Brand.headlineFont
            color: card.section.allPassed ? Brand.success : Brand.warning
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        Repeater {
            objectName: "triageRows"
            model: card.section.rows

            ReportText {
                required property string modelData
                text: modelData
            }
        }
        CopyShareButtons {
            objectName: "triageCopy"
            visible: card.section.body === TriagePresenter.Report
            model: card.model
            text: card.section.plainText
        }
        CardButton {
            objectName: "triageSend"
            visible: card.section.body === TriagePresenter.Report
            text: card.section.sendTitle
            symbol: "paperplane"
            enabled: card.section.buttonsEnabled
            onClicked: card.section.send()
        }
        Text {
            objectName: "triageUploadStatus"
            visible: card.section.hasUploadStatus
            text: card.section.uploadStatus
            textFormat: Text.PlainText
            font: Brand.captionFont
            color: Brand.textSecondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
        CardButton {
            objectName: "triageRun"
            visible: card.section.runShown
            text: card.section.runTitle
            symbol: "play.fill"
            enabled: card.section.buttonsEnabled
            onClicked: card.section.run()
        }
        Text {
            objectName: "triageNeedsVPNOff"
            visible: !card.section.runShown
            text: card.section.needsVPNOffText
            textFormat: Text.PlainText
            font: Brand.captionFont
            color: Brand.textSecondary
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }
    }
}
