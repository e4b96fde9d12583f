#pragma once

#include "diagnostics/ConnectivityProbe.h"

#include <chrono>

namespace kovra::ui {

// The sheet's in-tunnel self-test: what it probes, each probe's time-out and the probes
// themselves (see ConnectivityProbeOptions), and how long a run waits for it before
// the run counts as timed out. The defaults are the product's.
struct ConnectivityCheckOptions {
    ConnectivityProbeOptions probe;
    std::chrono::milliseconds watchdog = std::chrono::seconds(33);
};

} // namespace kovra::ui
