#pragma once

#include "connectivity/ThroughputSample.h"

#include <QDateTime>

#include <optional>

namespace kovra {

// Detects throttling: the tunnel keeps sending (tx >= 4096 B/s) while hardly receiving
// (rx < 8192 B/s) for at least `sustain` seconds without a break. One sample that is
// missing or not starved ends the run.
struct ThrottleTracker {
    std::optional<QDateTime> starvedSince; // start of the current unbroken starved run
    double sustain = 6;                    // seconds

    bool operator==(const ThrottleTracker &) const = default;

    // A NaN receive rate never counts as starved.
    static bool isStarved(const ThroughputSample &sample);

    // Feeds the latest sample (none when there is no fresh one); returns whether the
    // tunnel is throttled at `now`.
    bool update(const std::optional<ThroughputSample> &sample, const QDateTime &now);
};

} // namespace kovra
