#pragma once

#include "platform/AppGroupContainer.h"

#include "diagnostics/ConnectivityReport.h"
#include "diagnostics/RawProbes.h"
#include "platform/Log.h"
#include "tunnel/TunnelReplies.h"

#include <QDateTime>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>
#include <utility>

namespace kovra {

// What the self-test probes. The defaults are public services; tests point them at
// loopback.
struct ConnectivityTargets {
    // A public resolver's address: a raw TCP connect to it, and its trace page.
    QString resolverAddress = QStringLiteral("1.1.1.1");
    quint16 resolverPort = 443;
    // The two names looked up.
    QString firstName = QStringLiteral("cloudflare.com");
    QString secondName = QStringLiteral("google.com");
    // The resolver operator's trace page: plain "key=value" lines, "ip=" and "loc=" among them.
    QString traceURL = QStringLiteral("https://1.1.1.1/cdn-cgi/trace");
    // A connectivity-check page that answers 204, and the word naming its host.
    QString checkURL = QStringLiteral("https://www.google.com/generate_204");
    QString checkLabel = QStringLiteral("Google");
};

struct ConnectivityProbeOptions {
    ConnectivityTargets targets{};
    // Each probe's own time-out, in seconds.
    double stepTimeout = 5.0;
    // The probes; default: RawProber over the system clock and resolver.
    std::shared_ptr<RawProber> prober{};
};

// The in-tunnel self-test: six probes made while the tunnel carries the app's traffic
// (a TCP connect, two look-ups, a GET of the trace page, a HEAD of the check page and
// the same HEAD again as a control), one after another, then the layer where traffic
// stops. Logs under "ConnectivityProbe".
class ConnectivityProbe {
public:
    // Runs the six probes and returns the report; never throws and never fails as a
    // whole. `status` (the tunnel's own report, none when its query failed) gives the
    // auto-detect counters; `startedAt` becomes the time stamp. Each run replaces
    // "diagnostics/connectivity-last.txt" in the app group's container with the
    // report's text (a failed write is only logged). Takes up to about six time-outs.
    static QCoro::Task<ConnectivityReport> run(std::optional<TunnelStatusReport> status, AppGroupContainer appGroup,
                                               QDateTime startedAt, ConnectivityProbeOptions options = {});

    // The verdict from the ok flags of the TCP step, the two look-ups, the trace GET and
    // the check HEAD; the control step never enters it.
    static ConnectivityClassification classify(bool tcp, bool firstLookup, bool secondLookup, bool trace, bool check);

    // The exit address ("ip=") and location ("loc=") of a trace page's text; a later line
    // wins, a line with an empty value is skipped.
    static std::pair<std::optional<QString>, std::optional<QString>> parseTrace(const QString &text);

    static const Logger &log();
};

} // namespace kovra
