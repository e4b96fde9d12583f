#include "ui/diagnostics/ResultCard.h"

#include "diagnostics/PlainText.h"

#include <QVariantList>

namespace kovra::ui {
namespace {

QString kindName(ResultCard::RowKind kind)
{
    switch (kind) {
    case ResultCard::RowKind::Error:
        return QStringLiteral("error");
    case ResultCard::RowKind::Label:
        return QStringLiteral("label");
    case ResultCard::RowKind::Text:
        break;
    }
    return QStringLiteral("text");
}

} // namespace

QVariantMap ResultCard::fields(const std::optional<ResultCard> &card)
{
    if (!card)
        return {};
    QVariantList rows;
    rows.reserve(card->rows.size());
    for (const Row &row : card->rows)
        rows.append(QVariantMap{{QStringLiteral("kind"), kindName(row.kind)}, {QStringLiteral("text"), row.text}});
    QVariantMap out{
        {QStringLiteral("title"), card->title},
        {QStringLiteral("titleTone"), int(card->titleTone)},
        {QStringLiteral("rows"), rows},
    };
    if (card->time)
        out.insert(QStringLiteral("time"), *card->time);
    if (card->copyText)
        out.insert(QStringLiteral("copyText"), *card->copyText);
    return out;
}

std::optional<QString> cardTime(const std::optional<QDateTime> &date)
{
    if (!date || !date->isValid())
        return std::nullopt;
    // Years beyond four digits have no ISO form here: treated as an unknown time.
    QString text = isoUTC(*date);
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

} // namespace kovra::ui
