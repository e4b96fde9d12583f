#include "ui/diagnostics/ConnectivityRace.h"

#include "diagnostics/ConnectivityProbe.h"

namespace kovra::ui {
namespace {

using FirstResult = OneShot<std::optional<ConnectivityReport>>;

// Hands the self-test's report to `first` once the self-test ends.
QCoro::Task<void> deliverReport(Operation<ConnectivityReport> probe, FirstResult first)
{
    try {
        const ConnectivityReport report = co_await probe.value();
        first.resolve(std::optional<ConnectivityReport>(report));
    } catch (...) {
        // The self-test does not throw; should it anyway, it brought no report.
        first.resolve(std::nullopt);
    }
}

} // namespace

QCoro::Task<void> connectivityTimeoutWatchdog(std::shared_ptr<Clock> clock, std::chrono::milliseconds limit,
                                              CancellationToken token, FirstResult first)
{
    try {
        co_await clock->sleep(limit, token);
    } catch (...) {
        // Cancelled: the self-test came first.
    }
    first.resolve(std::nullopt);
}

QCoro::Task<std::optional<ConnectivityReport>> raceConnectivityProbe(std::optional<TunnelStatusReport> status,
                                                                     AppGroupContainer appGroup,
                                                                     std::shared_ptr<Clock> clock,
                                                                     ConnectivityCheckOptions options)
{
    FirstResult first;
    const Operation<ConnectivityReport> probe = Operation<ConnectivityReport>::run(
        [status, appGroup, clock, probeOptions = options.probe](CancellationToken) {
            return ConnectivityProbe::run(status, appGroup, clock->now(), probeOptions);
        });
    CancellationSource watchdogStop;
    deliverReport(probe, first);
    connectivityTimeoutWatchdog(clock, options.watchdog, watchdogStop.token(), first);

    co_await first.waitForEnd();
    std::optional<ConnectivityReport> outcome;
    if (const auto &delivered = first.peek())
        outcome = *delivered;
    watchdogStop.cancel();
    // The self-test does not look for cancellation; it ends by its own probe limits.
    probe.cancel();
    co_await probe.waitForEnd();
    co_return outcome;
}

} // namespace kovra::ui
