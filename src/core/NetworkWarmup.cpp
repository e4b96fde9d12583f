#include "core/NetworkWarmup.h"

#include "core/APIClient.h"
#include "core/AppGroupStore.h"
#include "platform/Defaults.h"
#include "core/Endpoint.h"
#include "platform/Async.h"
#include "platform/Http.h"
#include "platform/Log.h"

#include <QNetworkRequest>

#include <exception>
#include <memory>
#include <optional>

namespace kovra {

namespace {

const Logger &warmupLog()
{
    static const Logger log(QStringLiteral("NetworkWarmup"));
    return log;
}

// Only the User-Agent: no token, no content headers. The request's own 60 s limit
// never bites before the session's time-out.
QNetworkRequest regionsRequest(const QUrl &baseURL)
{
    QNetworkRequest request(Endpoint::regions().url(baseURL));
    request.setTransferTimeout(int(std::chrono::milliseconds(APIClient::requestTimeout).count()));
    request.setRawHeader("User-Agent", APIClient::userAgent().toUtf8());
    return request;
}

QCoro::Task<void> warmUp(QList<QUrl> baseURLs, std::shared_ptr<Defaults> defaults, std::chrono::milliseconds timeout,
                         CancellationToken token)
{
    try {
        const LaterPtr<HttpSession> session(HttpSession::ephemeral(timeout).release());
        const QUrl first = APIClient::restoreActiveBaseURL(*defaults, baseURLs).value_or(baseURLs.first());
        const QList<QUrl> candidates = QList<QUrl>{first} + APIClient::fallbackBaseURLs(first, baseURLs);

        for (const QUrl &candidate : candidates) {
            std::optional<HttpResponse> response;
            try {
                // Bodies are never read: the cap keeps a hostile one small.
                response = co_await session->send("GET", regionsRequest(candidate), {}, token, 0);
            } catch (...) {
                if (token.isCancelled())
                    co_return;
                continue;
            }
            if (!response->isHttp)
                continue;
            defaults->set(AppGroupKey::activeBaseURL, candidate.toString());
            warmupLog().info(QStringLiteral("warmup: pinned API host %1").arg(candidate.host()));
            co_return;
        }
        warmupLog().error(QStringLiteral("warmup: no API host reachable"));
    } catch (...) {
        // Nothing in the steps above is expected to throw; nobody awaits a failure here.
        warmupLog().error(QStringLiteral("warmup: failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

} // namespace

QCoro::Task<void> NetworkWarmup::run(CancellationToken token) const
{
    return warmUp(m_baseURLs, m_defaults, m_timeout, std::move(token));
}

} // namespace kovra
