#pragma once

#include "connectivity/ThroughputSample.h"

#include <optional>

namespace kovra {

// Where the engine reads the tunnel provider's latest throughput record from.
class ThroughputSampling {
public:
    virtual ~ThroughputSampling() = default;
    // The latest record, or none.
    virtual std::optional<SharedThroughputSample> latest() const = 0;
};

} // namespace kovra
