#pragma once

#include <QStringList>

namespace kovra {

// Where diagnostics read the reliability engine's recent telemetry from: the engine's
// controller implements it over its bounded telemetry buffer.
class TelemetrySource {
public:
    virtual ~TelemetrySource() = default;
    // A copy of the buffer's lines, oldest first (at most its capacity).
    virtual QStringList telemetryLines() const = 0;
};

} // namespace kovra
