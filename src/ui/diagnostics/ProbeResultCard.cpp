#include "ui/diagnostics/ProbeResultCard.h"

#include "platform/L10n.h"

namespace kovra::ui {

QString ProbeResultCard::latencyText(qint64 latencyMS)
{
    return L10n::format(L10n::text("%lld ms", u"%lld ms"), {latencyMS});
}

QVariantMap ProbeResultCard::fields(const DiagnosticProbeResult &probe)
{
    const QString latency = latencyText(probe.latencyMS);
    QStringList spoken{probe.name, latency};
    if (!probe.detail.isEmpty())
        spoken.append(probe.detail);
    return {
        {QStringLiteral("id"), probe.id.toString(QUuid::WithoutBraces)},
        {QStringLiteral("name"), probe.name},
        {QStringLiteral("ok"), probe.ok},
        {QStringLiteral("symbol"), probe.ok ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("xmark.octagon.fill")},
        {QStringLiteral("latency"), latency},
        {QStringLiteral("detail"), probe.detail},
        {QStringLiteral("accessibleName"), spoken.join(QStringLiteral(", "))},
    };
}

} // namespace kovra::ui
