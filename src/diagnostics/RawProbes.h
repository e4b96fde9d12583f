#pragma once

#include "platform/Clock.h"
#include "platform/Resolver.h"

#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>

namespace kovra {

// The result of one raw probe.
struct RawProbeOutcome {
    // The probe succeeded at its layer.
    bool ok = false;
    // Milliseconds from the probe's start to its result, fraction dropped.
    qint64 latencyMS = 0;
    // What happened, in short English text.
    QString detail;

    friend bool operator==(const RawProbeOutcome &, const RawProbeOutcome &) = default;
};

// What the probes run on: the clock that times them (and ends the TCP and DNS probes),
// the resolver that looks names up, and how much longer than its time-out an HTTP
// probe may take in all. The defaults are the product's.
struct RawProbeEnvironment {
    std::shared_ptr<Clock> clock = Clock::system();
    std::shared_ptr<Resolver> resolver = Resolver::shared();
    std::chrono::milliseconds httpOvertime{2000};
};

// The TCP, DNS and HTTP(S) probes every diagnostic uses. None of them throws: every
// failure, a time-out included, is an outcome with ok false and a readable detail.
// Time-outs are in seconds; a negative or non-finite one counts as 0 and one beyond
// about 23 days as that. Called on the GUI thread; look-ups and connects never block
// it, and any number of probes may run at once.
namespace RawProbes {

// A plain TCP connect to host:port. Ready: ok, "TCP connected". A port outside 1 to
// 65535: at once "invalid port <n>" with latency 0. Refused, unreachable or unknown
// hosts count as still waiting, so such a probe ends by its time-out:
// "timeout <whole seconds>s" with the time-out's milliseconds as latency.
QCoro::Task<RawProbeOutcome> tcp(QString host, qint64 port, double timeout, RawProbeEnvironment environment = {});

// A look-up of the host: ok with the first three numeric addresses joined by ", ",
// "getaddrinfo: <system message>" on failure, "no addresses" when none converted, or
// the time-out outcome of tcp(). A look-up that outlives the time-out goes on in the
// background and its result is dropped.
QCoro::Task<RawProbeOutcome> dns(QString host, double timeout, RawProbeEnvironment environment = {});

// One GET (get true) or HEAD request, User-Agent "KovraS-Diagnostics/1.0", through a
// fresh ephemeral session; redirects are not followed. The time-out bounds each wait
// for the answer's next bytes, the time-out plus the environment's overtime the whole
// request. The detail is "HTTP <status>" (-1 for a reply that is not HTTP); for a GET
// with a non-empty body the separator and the first bodyPrefixLength bytes, trimmed,
// follow when they are valid UTF-8 (a negative length counts as 0); a body beyond
// 1 MiB (or the prefix, when longer) is read only that far. ok for status 200-299.
// URL text that is not a URL: at once "invalid URL" with latency 0. A failed request:
// describe() of its error.
QCoro::Task<RawProbeOutcome> https(QString url, bool get, qint64 bodyPrefixLength, QString separator, double timeout,
                                   RawProbeEnvironment environment = {});

// A short English name of a request failure: for URLError by code ("cert untrusted",
// "TLS fail", "no internet", "DNS fail", "timeout", "connection lost", "cannot
// connect", else "URLError <code>"), any other error its own description.
QString describe(const std::exception_ptr &error);

} // namespace RawProbes

// The probes as an object, for diagnostics that take their probes from their caller
// (tests hand in scripted ones). The implementations call RawProbes with the environment.
class RawProber {
public:
    explicit RawProber(RawProbeEnvironment environment = {}) : m_environment(std::move(environment)) {}
    virtual ~RawProber() = default;

    virtual QCoro::Task<RawProbeOutcome> tcp(QString host, qint64 port, double timeout);
    virtual QCoro::Task<RawProbeOutcome> dns(QString host, double timeout);
    virtual QCoro::Task<RawProbeOutcome> https(QString url, bool get, qint64 bodyPrefixLength, QString separator,
                                               double timeout);

private:
    RawProbeEnvironment m_environment;
};

} // namespace kovra
