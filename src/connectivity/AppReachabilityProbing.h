#pragma once

#include "connectivity/ReachabilitySnapshot.h"
#include "platform/Cancellation.h"

#include <qcoro/qcorotask.h>

namespace kovra {

// Runs one reachability pass. Never fails: every failure is an unreachable result.
// Cancelling the token ends the requests still running (they count as unreachable).
class AppReachabilityProbing {
public:
    virtual ~AppReachabilityProbing() = default;
    virtual QCoro::Task<ReachabilitySnapshot> probe(CancellationToken token = {}) = 0;
};

} // namespace kovra
