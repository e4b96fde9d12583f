#include "diagnostics/TriageRecords.h"

#include "diagnostics/PlainText.h"

#include <algorithm>

namespace kovra {
QString TriageStep::rowText() const
{
    return host + QStringLiteral("  ") + name + QStringLiteral("  ") + okOrFail(ok) + QStringLiteral("  ") + detail;
}

bool TriageBodyOutcome::isComplete() const
{
    return statusCode && *statusCode >= 200 && *statusCode <= 299 && !error &&
           (!expectedBytes || bytesReceived == *expectedBytes);
}

QString TriageBodyOutcome::detailText() const
{
    QString text = statusCode ? QStringLiteral("HTTP %1").arg(*statusCode) : QStringLiteral("no HTTP response");
    text += QStringLiteral(", %1/%2 B")
                .arg(bytesReceived)
                .arg(expectedBytes ? QString::number(*expectedBytes) : QStringLiteral("unknown"));
    if (headMS)
        text += QStringLiteral(", head %1ms").arg(*headMS);
    text += QStringLiteral(", done %1ms").arg(elapsedMS);
    if (error)
        text += QStringLiteral(", error ") + *error;
    return text;
}

bool TriageReport::allOk() const
{
    return std::all_of(steps.begin(), steps.end(), [](const TriageStep &s) { return s.ok; });
}

QString TriageReport::plainText() const
{
    QStringList lines;
    lines << QStringLiteral("Kovra S — подробная проверка сети без VPN");
    lines << QStringLiteral("taken_at=") + isoUTC(takenAt) + QStringLiteral(" net=") + net.rawValue();
    lines << QStringLiteral("summary=") + summary;
    for (const TriageStep &s : steps)
        lines << s.host + QLatin1Char(' ') + s.name + QLatin1Char(' ') + okOrFail(s.ok) + QLatin1Char(' ') +
                     QString::number(s.ms) + QStringLiteral("ms ") + s.detail;
    return lines.join(QLatin1Char('\n'));
}

} // namespace kovra
