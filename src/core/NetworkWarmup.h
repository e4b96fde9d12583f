#pragma once

#include <qcoro/qcorotask.h>

#include <chrono>

namespace kovra {

// Finds a base URL of the service that answers at all and pins it as the persisted
// active base URL, so the API clients built afterwards start from a reachable host.
// Candidates are tried one after another (the stored active base URL, else the first,
// then the others in ring order) with an unauthenticated GET of "regions"; the first
// HTTP answer of any status wins. Running clients are not touched.
class NetworkWarmup {
public:
    static constexpr std::chrono::milliseconds defaultTimeout{6000};

    explicit NetworkWarmup(std::chrono::milliseconds timeout = defaultTimeout) : m_timeout(timeout) {}

    // Never throws; every failure is absorbed (and logged once when no host answers).
    // Start it on the GUI thread: the requests are asynchronous and nothing blocks.
    // The task does not refer to this object, which may go before it ends.
    QCoro::Task<void> run() const;

private:
    std::chrono::milliseconds m_timeout;
};

} // namespace kovra
