#pragma once

#include "platform/Cancellation.h"

#include <QList>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>

namespace kovra {

class Defaults;

// Finds a base URL of the service that answers at all and pins it as the persisted
// active base URL, so the API clients built afterwards start from a reachable host.
// Candidates are tried one after another (the stored active base URL, else the first,
// then the others in ring order) with an unauthenticated GET of "regions"; the first
// HTTP answer of any status wins. Running clients are not touched.
class NetworkWarmup {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{6000};

    // `baseURLs` as the API clients get them; the pin is written to `defaults` (the
    // app group's).
    NetworkWarmup(QList<QUrl> baseURLs, std::shared_ptr<Defaults> defaults,
                  std::chrono::milliseconds timeout = defaultTimeout)
        : m_baseURLs(std::move(baseURLs)), m_defaults(std::move(defaults)), m_timeout(timeout)
    {
    }

    // Never throws; every failure is absorbed (and logged once when no host answers).
    // Start it on the GUI thread: the requests are asynchronous and nothing blocks.
    // The task does not refer to this object, which may go before it ends. When
    // `token` fires, the request in flight is aborted and the run ends at once,
    // pinning nothing and logging nothing.
    QCoro::Task<void> run(CancellationToken token = {}) const;

private:
    QList<QUrl> m_baseURLs;
    std::shared_ptr<Defaults> m_defaults;
    std::chrono::milliseconds m_timeout;
};

} // namespace kovra
