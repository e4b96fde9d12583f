#include "diagnostics/DiagnosticsReport.h"

#include "diagnostics/PlainText.h"

#include <algorithm>

namespace kovra {
namespace {

const QString kRule(48, QChar(0x2500));

} // namespace

qsizetype DiagnosticsReport::okCount() const
{
    return std::count_if(probes.begin(), probes.end(), [](const DiagnosticProbeResult &p) { return p.ok; });
}

QString DiagnosticsReport::plainText() const
{
    QString text;
    const auto line = [&text](const QString &content) {
        text += content;
        text += QLatin1Char('\n');
    };
    line(QStringLiteral("Kovra S diagnostics — ") + isoUTC(timestamp));
    line(kRule);
    for (const DiagnosticProbeResult &probe : probes) {
        line(QLatin1Char('[') + (probe.ok ? QStringLiteral("OK ") : QStringLiteral("FAIL")) + QStringLiteral("] ") +
             probe.name + QStringLiteral(" — ") + QString::number(probe.latencyMS) + QStringLiteral("ms"));
        if (!probe.detail.isEmpty())
            line(QString(7, QLatin1Char(' ')) + probe.detail);
    }
    if (tunnelStatus) {
        const TunnelStatusReport &s = *tunnelStatus;
        const QString none = QStringLiteral("—");
        line(QString());
        line(QStringLiteral("Туннель"));
        line(kRule);
        line(QStringLiteral("singbox=") + (s.singboxRunning ? QStringLiteral("true") : QStringLiteral("false")));
        line(QStringLiteral("iface=") + s.ifaceName.value_or(none) + QStringLiteral(" idx=") +
             (s.ifaceIndex ? QString::number(*s.ifaceIndex) : none));
        if (s.lastTunOpenAt)
            line(QStringLiteral("lastTunOpenAt=") + isoUTC(*s.lastTunOpenAt));
        if (s.tunOpenError)
            line(QStringLiteral("tunOpenError=") + *s.tunOpenError);
        if (!s.recentLogs.isEmpty()) {
            line(QStringLiteral("recentLogs:"));
            for (const QString &log : s.recentLogs)
                line(QStringLiteral("  ") + log);
        }
    }
    if (!reliabilityTelemetry.isEmpty()) {
        line(QString());
        line(QStringLiteral("Движок надёжности (последние события)"));
        line(kRule);
        for (const QString &entry : reliabilityTelemetry)
            line(entry);
    }
    return text;
}

} // namespace kovra
