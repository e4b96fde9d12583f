#pragma once

#include "diagnostics/DiagnosticsReport.h"

#include <QString>
#include <QVariantMap>

namespace kovra::ui {

// What the card of one diagnostics probe shows (ProbeResultCard.qml draws it).
namespace ProbeResultCard {

// "<latency> ms" from the localisable "%lld ms", the number in plain decimal digits.
QString latencyText(qint64 latencyMS);

// The card's fields: "id" (the probe's identity, text), "name", "ok", "symbol"
// ("checkmark.circle.fill" or "xmark.octagon.fill"), "latency" (latencyText) and
// "detail" (empty when there is none) and "accessibleName" (name, latency and detail
// as one text for screen readers).
QVariantMap fields(const DiagnosticProbeResult &probe);

} // namespace ProbeResultCard
} // namespace kovra::ui
