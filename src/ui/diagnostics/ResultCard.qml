import QtQuick
import QtQuick.Layouts
import Kovra.Design
import Kovra.Diagnostics

// A read-only result card drawn from `fields` (see ResultCard::fields): the title and
// the optional time, the rows as plain text, the copy control when there is a copy
// text. Nothing at all is built while `fields` is empty.
Loader {
    id: slot

    required property DiagnosticsView model
    property var fields: ({})

    active: fields.title !== undefined
    visible: active
    Layout.fillWidth: true

    sourceComponent: Component {
        BrandCard {
            padding: 8
            elevation: Elevation.Card

            ColumnLayout {
                width: parent.width
                spacing: 4

                RowLayout {
                    Layout.fillWidth: true

                    TonedText {
                        objectName: "cardTitle"
                        text: slot.fields.title // qmllint disable unqualified
                        tone: slot.fields.titleTone
                        font: Brand.subheadlineFont
                        wrapMode: Text.Wrap
                        Layout.fillWidth: true
                    }
                    Text {
                        objectName: "cardTime"
                        visible: slot.fields.time !== undefined
                        text: slot.fields.time ?? ""
                        textFormat: Text.PlainText
                        // Digits of one width: the numeric family at the caption size.
                        font.family: Brand.numericFont.family
                        font.pixelSize: Brand.captionFont.pixelSize
                        color: Brand.textSecondary
                    }
                }
                Repeater {
                    model: slot.fields.rows

                    ReportText {
                        required property var modelData
                        objectName: "cardRow"
                        // The text goes in once the row has its width, so that a long
                        // text is laid out once, at that width.
                        text: width > 0 ? modelData.text : ""
                        font: modelData.kind === "label"
                              ? Qt.font({ family: Brand.captionFont.family, pixelSize: Brand.captionFont.pixelSize,
                                          weight: Font.DemiBold })
                              : Brand.monoFont
                        color: modelData.kind === "error" ? Brand.danger : Brand.textSecondary
                        // The width comes from the card alone: long texts never size it.
                        Layout.preferredWidth: 0
                    }
                }
                CopyShareButtons {
                    visible: slot.fields.copyText !== undefined
                    model: slot.model
                    text: slot.fields.copyText ?? ""
                }
            }
        }
    }
}
