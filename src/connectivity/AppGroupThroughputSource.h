#pragma once

#include "connectivity/ThroughputSampling.h"
#include "core/AppGroupStore.h"

#include <QString>

#include <functional>
#include <optional>

namespace kovra {

// Reads the throughput record from the app group through a closure that may be called
// from any thread.
class AppGroupThroughputSource final : public ThroughputSampling {
public:
    using Read = std::function<std::optional<SharedThroughputSample>()>;

    explicit AppGroupThroughputSource(Read read) : read(std::move(read)) {}

    Read read;

    std::optional<SharedThroughputSample> latest() const override { return read ? read() : std::nullopt; }

    // Over the store's AppGroupKey::throughputSample.
    static AppGroupThroughputSource live(AppGroupStore store);

    // The record stored as data under `key`: none when nothing is stored; none, logged
    // "decode failed for key <key>: <error>", when it does not decode; none when a rate
    // is no finite number within the 64-bit integer range, logged once per record.
    // Thread-safe.
    static std::optional<SharedThroughputSample> readSample(const AppGroupStore &store, const QString &key);
};

} // namespace kovra
