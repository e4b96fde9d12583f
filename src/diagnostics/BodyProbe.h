#pragma once

#include "core/APIClient.h"
#include "diagnostics/TriageRecords.h"
#include "platform/Clock.h"

#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>

namespace kovra {

struct BodyProbeOptions {
    // Sent as the "User-Agent" header.
    QString userAgent = APIClient::userAgent();
    // A download that receives nothing for this long fails with "timeout".
    std::chrono::milliseconds idleTimeout{10000};
    // A download still running after this long fails with "timeout".
    std::chrono::milliseconds totalTimeout{12000};
    // Times the download and its bounds; default: the system clock.
    std::shared_ptr<Clock> clock;
};

namespace NetworkTriage {

// One streamed GET of the URL over a session of its own (no cache, cookies or
// connections shared with anything else), asking for the body unencoded. Notes when
// the response head arrives, its status and stated length, and counts the body's
// bytes as they stream in without keeping them. Never throws: a transport failure
// (a connection lost mid-body included) lands in `error`; a status outside 2xx is no
// error. Lives on the GUI thread.
QCoro::Task<TriageBodyOutcome> bodyProbe(QUrl url, BodyProbeOptions options = {});

} // namespace NetworkTriage

} // namespace kovra
