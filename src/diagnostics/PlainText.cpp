#include "diagnostics/PlainText.h"

namespace kovra {

QString isoUTC(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODate);
}

QString okOrFail(bool ok)
{
    return ok ? QStringLiteral("ok") : QStringLiteral("fail");
}

QStringView trimSpacesAndTabs(QStringView text)
{
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (!text.isEmpty() && blank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && blank(text.back()))
        text.chop(1);
    return text;
}

} // namespace kovra
