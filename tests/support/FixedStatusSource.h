#pragma once

// Header-only: the test support library does not link the diagnostics library.

#include "diagnostics/TunnelStatusSource.h"
#include "tunnel/TunnelController.h"

#include <optional>

namespace kovra::test {

// A tunnel status source that answers with its report, or fails as a tunnel without
// a status would when there is none.
class FixedStatusSource final : public TunnelStatusSource {
public:
    std::optional<TunnelStatusReport> report;

    QCoro::Task<TunnelStatusReport> queryStatus() override
    {
        if (!report)
            throw TunnelError(TunnelError::Kind::statusUnavailable);
        // A copy: QCoro moves out of a non-const lvalue handed to co_return.
        const TunnelStatusReport copy = *report;
        co_return copy;
    }
};

} // namespace kovra::test
