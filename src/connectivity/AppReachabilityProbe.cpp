#include "connectivity/AppReachabilityProbe.h"

#include "platform/Http.h"
#include "platform/Log.h"

#include <QNetworkRequest>
#include <QUrl>

#include <vector>

namespace kovra {
namespace {

const Logger &logger()
{
    static const Logger log(QStringLiteral("Reachability"));
    return log;
}

// Only web URLs with a host are probed; anything else is unreachable without a request.
bool isProbeable(const QUrl &url)
{
    return url.isValid() && !url.host().isEmpty() && (url.scheme() == u"https" || url.scheme() == u"http");
}

QCoro::Task<bool> answers(QString urlText, std::chrono::milliseconds timeout, QByteArray userAgent,
                          CancellationToken token)
{
    const QUrl url(urlText, QUrl::StrictMode);
    if (!isProbeable(url))
        co_return false;
    // Released later: the session's reply may still be finishing when this returns.
    const LaterPtr<HttpSession> session(HttpSession::ephemeral(timeout).release());
    QNetworkRequest request(url);
    request.setRawHeader(QByteArrayLiteral("User-Agent"), userAgent);
    try {
        // A HEAD answer has no body, whatever its headers announce: a cap of nothing ends
        // the request on the headers instead of waiting for bytes that never come.
        const HttpResponse response = co_await session->send(QByteArrayLiteral("HEAD"), request, {}, token, 0);
        co_return response.isHttp;
    } catch (...) {
        co_return false;
    }
}

QCoro::Task<ServiceReachability> probeService(ReachabilityService service, std::chrono::milliseconds timeout,
                                              QByteArray userAgent, std::shared_ptr<Clock> clock,
                                              CancellationToken token)
{
    const MonotonicInstant start = clock->monotonicNow();
    const bool reachable = co_await answers(service.url, timeout, userAgent, token);
    const qint64 latency = AppReachabilityProbe::latencyMilliseconds(clock->monotonicNow() - start);
    co_return ServiceReachability{service.name, service.isApp, service.isGating, reachable, latency};
}

QCoro::Task<ReachabilitySnapshot> runPass(AppReachabilityProbeOptions options, CancellationToken token)
{
    // Tasks start at once, so every request is in flight before the first await.
    std::vector<QCoro::Task<ServiceReachability>> children;
    children.reserve(size_t(options.services.size()));
    for (const ReachabilityService &service : std::as_const(options.services))
        children.push_back(probeService(service, options.timeout, options.userAgent, options.clock, token));

    ReachabilitySnapshot snapshot;
    for (auto &child : children) {
        ServiceReachability result = co_await std::move(child);
        snapshot.results.append(std::move(result));
    }
    logger().info(QStringLiteral("reachability: gating %1/%2, apps %3/%4, all %5/%6")
                      .arg(snapshot.gatingReachableCount())
                      .arg(snapshot.gatingCount())
                      .arg(snapshot.appReachableCount())
                      .arg(snapshot.appCount())
                      .arg(snapshot.reachableCount())
                      .arg(snapshot.results.size()));
    co_return snapshot;
}

} // namespace

const QList<ReachabilityService> &productReachabilityServices()
{
    static const QList<ReachabilityService> services{
        {QStringLiteral("YouTube"), QStringLiteral("https://www.youtube.com/generate_204"), true, false},
        {QStringLiteral("Apple"), QStringLiteral("https://captive.apple.com/hotspot-detect.html"), true, true},
        {QStringLiteral("Cloudflare"), QStringLiteral("https://www.cloudflare.com/cdn-cgi/trace"), true, true},
        {QStringLiteral("Microsoft"), QStringLiteral("http://www.msftconnecttest.com/connecttest.txt"), true, true},
        {QStringLiteral("Meta"), QStringLiteral("https://www.facebook.com/"), true, false},
    };
    return services;
}

AppReachabilityProbe::AppReachabilityProbe(Options options) : m_options(std::move(options))
{
    if (!m_options.clock)
        m_options.clock = Clock::system();
}

QCoro::Task<ReachabilitySnapshot> AppReachabilityProbe::probe(CancellationToken token)
{
    return runPass(m_options, std::move(token));
}

qint64 AppReachabilityProbe::latencyMilliseconds(std::chrono::nanoseconds elapsed)
{
    if (elapsed.count() <= 0)
        return 0;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

} // namespace kovra
