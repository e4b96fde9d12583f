#pragma once

#include "platform/Json.h"

#include <QDateTime>

#include <chrono>
#include <optional>

namespace kovra {

// The tunnel provider's latest traffic measurement, stored as UTF-8 JSON data under
// AppGroupKey::throughputSample: "rxBps" and "txBps" numbers, "connectionsOut" a whole
// number, "updatedAt" seconds since 2001-01-01T00:00:00Z. All four keys are required;
// others are ignored. The app only reads it.
struct SharedThroughputSample {
    double rxBps = 0; // bytes per second received through the tunnel
    double txBps = 0; // bytes per second sent
    qint64 connectionsOut = 0;
    QDateTime updatedAt;

    bool operator==(const SharedThroughputSample &) const = default;

    // Whether both rates are numbers the app can turn into whole numbers (finite and
    // within the 64-bit integer range; see ThroughputSample::wholeRate).
    bool hasUsableRates() const;

    static SharedThroughputSample decode(const JsonDecodingContainer &c);
    void encode(JsonEncodingContainer &c) const;
};

// The engine's reading of a fresh shared sample.
struct ThroughputSample {
    double rxRate = 0; // bytes per second
    double txRate = 0;
    qint64 conns = 0;
    QDateTime sampledAt;

    bool operator==(const ThroughputSample &) const = default;

    // Samples older than this are ignored.
    static constexpr std::chrono::milliseconds kMaxAge{8000};

    // The shared sample as the engine's reading; none when there is none, its rates are
    // unusable, or its updatedAt lies more than `maxAge` before `now` (a sample exactly
    // that old counts).
    static std::optional<ThroughputSample> fromShared(const std::optional<SharedThroughputSample> &shared,
                                                      const QDateTime &now, std::chrono::milliseconds maxAge = kMaxAge);

    // A rate rounded to the nearest whole number (halves away from zero); none for a
    // NaN, an infinity, or a value outside the 64-bit integer range.
    static std::optional<qint64> wholeRate(double rate);
};

} // namespace kovra
