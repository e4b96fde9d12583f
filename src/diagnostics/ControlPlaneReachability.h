#pragma once

#include "connectivity/NetworkPathType.h"
#include "core/APIClient.h"
#include "diagnostics/RawProbes.h"
#include "platform/Clock.h"
#include "platform/NetworkPath.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace kovra {

// Where the service's API hosts are blocked, seen without the tunnel. Raw values are
// the case names.
enum class ControlPlaneVerdict { reachable, dnsBlocked, blackholed, tlsBlocked, noNetwork };
QString rawValue(ControlPlaneVerdict verdict);
std::optional<ControlPlaneVerdict> controlPlaneVerdict(const QString &rawValue);
// The verdict's one-line user title ("diag.controlPlane.<case>").
QString localizedTitle(ControlPlaneVerdict verdict);

// One API host: its name look-up, its TCP connect and its HTTPS HEAD, in that order.
struct ControlPlaneHostResult {
    QString host;
    RawProbeOutcome dns;
    RawProbeOutcome tcp;
    RawProbeOutcome https;

    // The screen's row: "<host>  DNS ok <detail> | TCP fail <detail> | HTTPS ...",
    // details unchanged and without latencies.
    QString rowText() const;

    friend bool operator==(const ControlPlaneHostResult &, const ControlPlaneHostResult &) = default;
};

struct ControlPlaneOptions {
    // The hosts checked: those of these base URLs, in order (a URL without a host is skipped).
    // The app hands in the list its API client was given; default: the built-in one.
    QList<QUrl> baseURLs = APIClient::builtInBaseURLs();
    // Connect to the base URLs' own scheme and port instead of HTTPS on 443 (tests).
    bool followBaseURLs = false;
    // A public connectivity-check page; any HTTP answer means the internet is reachable.
    QString controlURL = QStringLiteral("https://www.google.com/generate_204");
    // Each probe's own time-out, in seconds.
    double timeout = 5.0;
    // The probes; default: RawProber over the system clock and resolver.
    std::shared_ptr<RawProber> prober{};
    // The network path check before the probes; default factory: the system's sources.
    NetworkPathSourceFactory pathSources{};
    double pathTimeout = 1.0;
    // Dates the report; default: the system clock.
    std::shared_ptr<Clock> clock{};
};

// Whether the user's own network lets the app reach the service's API hosts, and if
// not, at which layer they are blocked. Run only while the tunnel is not connected.
namespace ControlPlaneReachability {

struct Report {
    // One per host, in the order of the base URLs.
    QList<ControlPlaneHostResult> results;
    // The check page gave an HTTP answer of any status.
    bool controlReachable = false;
    ControlPlaneVerdict verdict = ControlPlaneVerdict::noNetwork;
    // When the check started.
    QDateTime takenAt;
    NetworkPathType net = NetworkPathType::none;

    // Shareable text, lines joined by line feeds (none after the last): the header,
    // "taken_at=… net=…", "verdict=<case> <title>", one line per host with each
    // outcome's cell(), then "control=ok" or "control=fail".
    QString plainText() const;

    friend bool operator==(const Report &, const Report &) = default;
};

// Checks the network path (for at most its time-out), then runs the control probe and
// every host's chain at the same time; inside a chain the three probes run one after
// another, each whatever the earlier ones gave. Never throws.
QCoro::Task<Report> run(ControlPlaneOptions options = {});

// First match: no host answered HTTP and no control answer: noNetwork; some host
// answered HTTP (any status): reachable; no look-up succeeded: dnsBlocked; no connect
// succeeded: blackholed; else tlsBlocked.
ControlPlaneVerdict verdict(const QList<ControlPlaneHostResult> &results, bool controlReachable);

// "ok" or "fail", a space, the detail and " (<n>ms)" when the latency is 1 ms or more,
// trimmed of spaces and tabs at both ends.
QString cell(const RawProbeOutcome &outcome);

// Whether an HTTP probe's outcome carries an answer, whatever its status.
bool answeredHTTP(const RawProbeOutcome &outcome);

} // namespace ControlPlaneReachability

} // namespace kovra
