#pragma once

#include "connectivity/AppReachabilityProbing.h"
#include "platform/Clock.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <memory>

namespace kovra {

// A public service whose answer tells whether traffic gets through.
struct ReachabilityService {
    QString name;
    QString url;
    bool isApp = false;
    // Gating services decide whether the tunnel is judged working.
    bool isGating = false;
};

// The product's services, in the order they are probed and reported: YouTube, Apple,
// Cloudflare, Microsoft (plain HTTP), Meta. Apple, Cloudflare and Microsoft are gating.
const QList<ReachabilityService> &productReachabilityServices();

struct AppReachabilityProbeOptions {
    QList<ReachabilityService> services = productReachabilityServices();
    // Bound on each request, from sending to the answer's headers.
    std::chrono::milliseconds timeout{3000};
    QByteArray userAgent = QByteArrayLiteral("KovraS/1.0");
    std::shared_ptr<Clock> clock = Clock::system();
};

// One pass sends a HEAD request to every service at once, each over a fresh ephemeral
// session, and reports each service as reachable when any HTTP answer came back (an
// error status included) within the time-out. Results follow the service list's
// order, whatever order the answers came in. Holds no state between passes; a pass
// outlives the probe object safely. Used on the GUI thread.
class AppReachabilityProbe final : public AppReachabilityProbing {
public:
    using Service = ReachabilityService;
    using Options = AppReachabilityProbeOptions;

    explicit AppReachabilityProbe(Options options = {});

    static const QList<Service> &services() { return productReachabilityServices(); }

    QCoro::Task<ReachabilitySnapshot> probe(CancellationToken token = {}) override;

    // Elapsed time as whole milliseconds, the fraction dropped (2.9996 s is 2999).
    static qint64 latencyMilliseconds(std::chrono::nanoseconds elapsed);

private:
    Options m_options;
};

} // namespace kovra
