#pragma once

#include "connectivity/ConnectivityVerdict.h"
#include "connectivity/EngineState.h"
#include "connectivity/ThroughputSample.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace kovra {

// The engine's recent history as text lines, oldest first, bounded by `capacity`.
struct ReliabilityTelemetryBuffer {
    qsizetype capacity = 200;
    QStringList lines;

    // Adds the line, then drops the oldest lines beyond the capacity.
    void append(const QString &line);
};

// The line formats. Times are ISO 8601 UTC to the second ("2025-03-05T12:00:00Z"),
// Booleans "true"/"false", states, actions and verdicts their case names; `route` is
// the id of the connection in use, or "—" when there is none.
namespace telemetry {

QString timestamp(const QDateTime &date);
QString boolText(bool value);
QString routeText(const std::optional<QString> &connectionID);

// "<ts> transition <from>→<to> event=<event> action=<action> route=<route> autoManaged=<b>".
// A forced state change writes its reason as the event and "direct" as the action.
QString transitionLine(const QDateTime &at, EngineState from, EngineState to, const QString &event,
                       const QString &action, const std::optional<QString> &route, bool autoManaged);

// A rate as the tick line writes it: rounded to a whole number (halves away from
// zero), followed by " (stale)" when the sample was not fed this cycle; "—" without one.
QString rateText(const std::optional<double> &rate, bool fresh);

struct TickLine {
    QString phase;
    EngineState state = EngineState::idle;
    ConnectivityVerdict verdict = ConnectivityVerdict::idle;
    bool reachable = false;
    bool throttled = false;
    std::optional<ThroughputSample> sample; // the throughput task's last reading
    bool sampleFresh = false;
    std::optional<QString> route;
    bool autoManaged = false;
};

// "<ts> tick phase=<phase> state=<state> verdict=<verdict> reachable=<b> throttled=<b>
// rx=<rx> tx=<tx> route=<route> autoManaged=<b>" (one line).
QString tickLine(const QDateTime &at, const TickLine &tick);

} // namespace telemetry
} // namespace kovra
