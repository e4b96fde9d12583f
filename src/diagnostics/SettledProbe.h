#pragma once

#include "diagnostics/RawProbes.h"

#include <qcoro/qcorotask.h>

namespace kovra {

// The probe's outcome; a probe implementation that throws anyway gives a failed
// outcome with describe() of its error and latency 0, so callers never see an error.
QCoro::Task<RawProbeOutcome> settledProbe(QCoro::Task<RawProbeOutcome> probe);

} // namespace kovra
