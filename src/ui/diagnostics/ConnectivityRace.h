#pragma once

#include "diagnostics/ConnectivityReport.h"
#include "platform/AppGroupContainer.h"
#include "platform/Async.h"
#include "tunnel/TunnelReplies.h"
#include "ui/diagnostics/ConnectivityCheckOptions.h"

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <optional>

namespace kovra::ui {

// The self-test raced against its watchdog: whichever ends first decides. The
// self-test's report when it came first; none when the watchdog did. Either way this
// ends only after the self-test itself has ended (it does not stop early, and a second
// run must not overlap it), so a late report is discarded. The self-test is handed
// `status`, `appGroup` and the clock's time at its start. Never throws.
QCoro::Task<std::optional<ConnectivityReport>> raceConnectivityProbe(std::optional<TunnelStatusReport> status,
                                                                     AppGroupContainer appGroup,
                                                                     std::shared_ptr<Clock> clock,
                                                                     ConnectivityCheckOptions options);

// The watchdog of one race: sleeps `limit` on the clock, then hands `first` no report;
// a cancelled sleep hands it no report either (it is settled by then).
QCoro::Task<void> connectivityTimeoutWatchdog(std::shared_ptr<Clock> clock, std::chrono::milliseconds limit,
                                              CancellationToken token,
                                              OneShot<std::optional<ConnectivityReport>> first);

} // namespace kovra::ui
