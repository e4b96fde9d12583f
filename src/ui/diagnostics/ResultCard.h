#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace kovra::ui {

// The colour a line of the sheet is drawn in: the label colour, the secondary label
// colour, success green, system orange, system red.
namespace TextTone {
Q_NAMESPACE
QML_ELEMENT
enum Value { Primary, Secondary, Success, Warning, Danger };
Q_ENUM_NS(Value)
} // namespace TextTone

// One read-only result card of the diagnostics sheet (ResultCard.qml draws it): a
// header with the title and, at the trailing edge, an optional time; then its rows
// top to bottom, each shown whole as plain text; then the copy control when there is
// a text to copy.
struct ResultCard {
    enum class RowKind {
        Text,  // monospaced caption, secondary label colour, selectable
        Error, // the same in system red
        Label, // semibold caption, secondary label colour
    };
    struct Row {
        RowKind kind = RowKind::Text;
        QString text;

        friend bool operator==(const Row &, const Row &) = default;
    };

    explicit ResultCard(QString title, std::optional<QString> time = std::nullopt,
                        TextTone::Value titleTone = TextTone::Primary)
        : title(std::move(title)), titleTone(titleTone), time(std::move(time))
    {
    }

    QString title;
    TextTone::Value titleTone = TextTone::Primary;
    std::optional<QString> time;
    QList<Row> rows;
    std::optional<QString> copyText;

    // What QML reads: "title", "titleTone", "time" (only when there is one), "rows"
    // (maps of "kind": "text", "error" or "label", and "text"), "copyText" (only when
    // there is one). An absent card gives an empty map.
    static QVariantMap fields(const std::optional<ResultCard> &card);

    friend bool operator==(const ResultCard &, const ResultCard &) = default;
};

// A time as the cards show it: ISO 8601 in UTC to the second, "2026-12-05T17:06:05Z".
// None without a date, or for one that has no such form.
std::optional<QString> cardTime(const std::optional<QDateTime> &date);

} // namespace kovra::ui
