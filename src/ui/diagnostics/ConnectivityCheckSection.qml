import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Diagnostics

// The in-tunnel self-test: the title (with progress while a run is under way); the
// notice of a run that timed out, shown above a report kept from before; the hint
// or the report (verdict, exit, the counters behind their own disclosure, one row
// per step); the run and copy buttons. On a rounded control-background panel.
Rectangle {
    id: section

    required property ConnectivityCheck model

    objectName: "connectivitySection"
    radius: 12
    color: Brand.surface
    implicitWidth: column.implicitWidth + 2 * 8
    implicitHeight: column.implicitHeight + 2 * 8

    ColumnLayout {
        id: column
        x: 8
        y: 8
        width: section.width - 2 * 8
        spacing: 6

        RowLayout {
            objectName: "connectivityTitleRow"
            Layout.fillWidth: true

            Text {
                objectName: "connectivityTitle"
                text: section.model.title
                textFormat: Text.PlainText
                font: Brand.withWeight(Brand.subheadlineFont, Font.DemiBold)
                color: Brand.textPrimary
                Layout.fillWidth: true
            }
            ActivityIndicator {
                objectName: "connectivityProgress"
                visible: section.model.running
            }
        }

        RowLayout {
            objectName: "connectivityTimeout"
            visible: section.model.timedOut
            spacing: 4
            Layout.fillWidth: true

            SymbolIcon {
                objectName: "connectivityTimeoutSymbol"
                name: "clock.badge.exclamationmark"
                size: Brand.captionFont.pixelSize + 2
                color: Brand.warning
                Layout.alignment: Qt.AlignTop
            }
            Text {
                objectName: "connectivityTimeoutText"
                text: section.model.timeoutText
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font: Brand.withWeight(Brand.captionFont, Font.DemiBold)
                color: Brand.warning
                Layout.fillWidth: true
            }
        }

        Text {
            objectName: "connectivityHint"
            visible: text !== ""
            text: section.model.hint
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: Brand.captionFont
            color: Brand.textSecondary
            Layout.fillWidth: true
        }

        ColumnLayout {
            objectName: "connectivityReport"
            visible: section.model.hasReport
            spacing: 6
            Layout.fillWidth: true

            TextEdit {
                objectName: "connectivityVerdict"
                text: section.model.verdict
                readOnly: true
                selectByMouse: true
                textFormat: TextEdit.PlainText
                wrapMode: TextEdit.Wrap
                font: Brand.withWeight(Brand.captionFont, Font.DemiBold)
                color: section.model.verdictOk ? Brand.success : Brand.warning
                selectionColor: Brand.accent
                selectedTextColor: Brand.onAccent
                Layout.fillWidth: true
            }
            ReportText {
                objectName: "connectivityExit"
                visible: text !== ""
                text: section.model.exitLine
            }

            ColumnLayout {
                objectName: "connectivityCounters"
                visible: section.model.hypothesisLine !== ""
                spacing: 4
                Layout.fillWidth: true

                T.AbstractButton {
                    id: countersHeader
                    objectName: "connectivityCountersDisclosure"
                    text: section.model.countersTitle
                    implicitWidth: implicitContentWidth
                    implicitHeight: implicitContentHeight
                    Accessible.role: Accessible.Button
                    Accessible.name: text
                    Accessible.checkable: true
                    Accessible.checked: section.model.countersExpanded
                    onClicked: section.model.toggleCounters()

                    contentItem: Row {
                        spacing: 2

                        SymbolIcon {
                            name: "chevron.right"
                            size: Brand.captionFont.pixelSize + 2
                            color: Brand.textSecondary
                            rotation: section.model.countersExpanded ? 90 : 0
                            anchors.verticalCenter: parent.verticalCenter
                        }
                        Text {
                            text: countersHeader.text
                            textFormat: Text.PlainText
                            font: Brand.captionFont
                            color: Brand.textSecondary
                            anchors.verticalCenter: parent.verticalCenter
                        }
                    }
                }
                ReportText {
                    objectName: "connectivityHypothesis"
                    visible: section.model.countersExpanded
                    text: section.model.hypothesisLine
                }
            }

            Repeater {
                model: section.model.steps

                RowLayout {
                    id: stepRow

                    required property var modelData

                    objectName: "connectivityStep"
                    Layout.fillWidth: true
                    Accessible.role: Accessible.StaticText
                    Accessible.name: modelData.accessibleName

                    SymbolIcon {
                        objectName: "stepSymbol"
                        name: stepRow.modelData.symbol
                        size: Brand.captionFont.pixelSize + 3
                        color: stepRow.modelData.ok ? Brand.success : Brand.danger
                        Layout.alignment: Qt.AlignTop
                    }
                    ColumnLayout {
                        spacing: 2
                        Layout.fillWidth: true
                        Layout.alignment: Qt.AlignTop

                        Text {
                            objectName: "stepTitle"
                            text: stepRow.modelData.title
                            textFormat: Text.PlainText
                            wrapMode: Text.Wrap
                            font: Brand.withWeight(Brand.captionFont, Font.Medium)
                            color: Brand.textPrimary
                            Layout.fillWidth: true
                        }
                        TextEdit {
                            objectName: "stepDetail"
                            visible: text !== ""
                            text: stepRow.modelData.detail
                            readOnly: true
                            selectByMouse: true
                            textFormat: TextEdit.PlainText
                            wrapMode: TextEdit.Wrap
                            font.family: Brand.monoFont.family
                            font.pixelSize: Brand.caption2Font.pixelSize
                            color: Brand.textSecondary
                            selectionColor: Brand.accent
                            selectedTextColor: Brand.onAccent
                            Layout.fillWidth: true
                        }
                    }
                    Text {
                        objectName: "stepLatency"
                        text: stepRow.modelData.latency
                        textFormat: Text.PlainText
                        // Digits of one width: the numeric family at the caption2 size.
                        font.family: Brand.numericFont.family
                        font.pixelSize: Brand.caption2Font.pixelSize
                        color: Brand.textSecondary
                        Layout.alignment: Qt.AlignTop
                    }
                }
            }
        }

        RowLayout {
            objectName: "connectivityButtons"
            spacing: 8

            CardButton {
                objectName: "connectivityRunButton"
                text: section.model.runTitle
                symbol: "network"
                enabled: section.model.runEnabled
                onClicked: section.model.run()
            }
            CardButton {
                objectName: "connectivityCopyButton"
                visible: section.model.hasReport
                text: section.model.copyTitle
                symbol: "doc.on.doc"
                onClicked: section.model.copyReport()
            }
        }
    }
}
