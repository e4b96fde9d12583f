#pragma once

#include "tunnel/TunnelReplies.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace kovra {

// One probe of the quick diagnostics run, as the screen lists it.
struct DiagnosticProbeResult {
    // Fresh per result; the identity of a card in a list.
    QUuid id = QUuid::createUuid();
    // The probe and its target ("TCP 1.1.1.1:443").
    QString name;
    bool ok = false;
    qint64 latencyMS = 0;
    // The probe's own detail text, unchanged (may be empty).
    QString detail;

    friend bool operator==(const DiagnosticProbeResult &, const DiagnosticProbeResult &) = default;
};

// One completed diagnostics run; a plain value.
struct DiagnosticsReport {
    // When the report was put together, after every probe had finished.
    QDateTime timestamp;
    // The six probes in their fixed order.
    QList<DiagnosticProbeResult> probes;
    // The tunnel's own status report, when the caller had one.
    std::optional<TunnelStatusReport> tunnelStatus;
    // The reliability engine's recent lines, as handed in.
    QStringList reliabilityTelemetry;

    // How many probes succeeded.
    qsizetype okCount() const;

    // The report as shareable text, every line ended by a line feed: the header with the
    // UTC time stamp, a rule, one "[OK ] name — 12ms" line per probe with its detail
    // indented by seven spaces below it; then the tunnel block ("Туннель") when there is a
    // status report and the engine block when there are telemetry lines.
    QString plainText() const;

    friend bool operator==(const DiagnosticsReport &, const DiagnosticsReport &) = default;
};

} // namespace kovra
