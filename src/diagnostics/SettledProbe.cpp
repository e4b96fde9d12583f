#include "diagnostics/SettledProbe.h"

namespace kovra {

QCoro::Task<RawProbeOutcome> settledProbe(QCoro::Task<RawProbeOutcome> probe)
{
    std::exception_ptr failure;
    try {
        const RawProbeOutcome outcome = co_await probe;
        co_return outcome;
    } catch (...) {
        failure = std::current_exception();
    }
    co_return RawProbeOutcome{false, 0, RawProbes::describe(failure)};
}

} // namespace kovra
