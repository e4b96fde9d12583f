#pragma once

#include "connectivity/NetworkPathType.h"
#include "core/APIClient.h"
#include "core/AppGroupStore.h"
#include "diagnostics/BodyProbe.h"
#include "diagnostics/RawProbes.h"
#include "diagnostics/TriageRecords.h"
#include "platform/Clock.h"
#include "platform/NetworkPath.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

namespace kovra {

struct NetworkTriageOptions {
    // The hosts checked: those of these base URLs, in order (a URL without a host is
    // skipped); downloads go below each base URL.
    // The app hands in the list its API client was given; default: the built-in one.
    QList<QUrl> baseURLs = APIClient::builtInBaseURLs();
    // Connect to the base URLs' own scheme and port instead of HTTPS on 443 (tests).
    bool followBaseURLs = false;
    // The look-up's, the connect's and the HEAD's own time-out, in seconds.
    double probeTimeout = 5.0;
    // Echo download sizes in bytes, tried in order until one fails.
    QList<qint64> echoSizes{1024, 4096, 16384, 65536};
    BodyProbeOptions body{};
    // The probes; default: RawProber over the system clock and resolver.
    std::shared_ptr<RawProber> prober{};
    // The network path check before the steps; default factory: the system's sources.
    NetworkPathSourceFactory pathSources{};
    double pathTimeout = 1.0;
    // Dates the report; default: the system clock.
    std::shared_ptr<Clock> clock{};
};

// How far each API host can be reached from the user's own network, with the tunnel
// off: per host a look-up, a TCP connect, a HEAD, echo downloads of growing size and
// the download of the user's proxy configuration, strictly one step at a time.
namespace NetworkTriage {

// Receives each finished step before the next one starts (on the GUI thread).
using StepHandler = std::function<void(const TriageStep &)>;

// Runs every step of every host (no step is skipped because an earlier one failed,
// except the echo sizes after the first failing one) and returns the report with its
// summary. `store` gives the subscription URL and the preferred entry; without a
// usable subscription URL there are no "config" steps. `onStep` may be empty; it must
// stay safe to call for the whole run. Never throws.
QCoro::Task<TriageReport> run(AppGroupStore store, StepHandler onStep, NetworkTriageOptions options = {});
// The same operation under the name the diagnostics screen uses.
inline QCoro::Task<TriageReport> runSequence(AppGroupStore store, StepHandler onStep, NetworkTriageOptions options = {})
{
    return run(std::move(store), std::move(onStep), std::move(options));
}

// The configuration URL: the stored subscription URL with the "/sing_box" path, the
// "caps" query and the preferred entry's "entry" query; none when no subscription URL
// is stored or it is not a URL.
std::optional<QUrl> configurationURL(const Defaults &defaults);

// The one-line Russian summary of the steps: none run, all passed, the size from which
// bodies break off (the first echo step that answered and failed), the hosts that work
// and those that do not, or that no host answers.
QString summarize(const QList<TriageStep> &steps);
// The steps' distinct hosts in the order they first appear.
QStringList uniqueHosts(const QList<TriageStep> &steps);
// "64 КБ" for a whole number of KiB from 1 KiB up, else "1000 Б".
QString sizeText(qint64 bytes);

} // namespace NetworkTriage

} // namespace kovra
