#pragma once

#include "platform/Clock.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

class QCommandLineParser;

namespace kovra::devservice {

// The subscription the service starts with.
enum class SubscriptionPlan {
    active,    // 100 GB, a little used, expires in 30 days
    expired,   // status "expired", expired two days ago
    exhausted, // status "limited", traffic used up
    unlimited, // active, no traffic limit, no expiry
    trial,     // 200 MB, unused, expires in 7 days: what a new account gets
};

struct DevServiceOptions {
    // One port per host (three); 0 or none takes a free port.
    QList<quint16> ports;
    // Where the state is kept between runs; empty keeps it in memory only.
    QString statePath;
    // Where the external targets are written once the hosts listen; empty: nowhere.
    QString targetsPath;
    // Polls of a sign-in that answer 202 before the token comes.
    int confirmAfter = 3;
    // Replaces the stored subscription at start; none keeps it (a new state, and a new
    // account, gets the trial).
    std::optional<SubscriptionPlan> subscription;
    // From an invoice to the extended subscription.
    std::chrono::milliseconds payAfter{10'000};
    // From a wake request to "online"; the region reports "stopped" for the first
    // `wakeStoppedFor` of it, then "starting".
    std::chrono::milliseconds wakeAfter{30'000};
    std::chrono::milliseconds wakeStoppedFor{2'000};
    // How long a sign-in session (its nonce) lives.
    std::chrono::milliseconds sessionLifetime{300'000};
    // Echo bodies break off after this many bytes; none sends them whole.
    std::optional<qint64> echoCutAt;
    qint64 echoMaxBytes = 16 * 1024 * 1024;
    qint64 uploadMaxBytes = 1024 * 1024;
    // The five reachability probes close the connection instead of answering.
    bool probesFail = false;
    // Hosts (0-based) that refuse connections, and per-host answer delays.
    QSet<int> downHosts;
    QHash<int, std::chrono::milliseconds> hostDelays;
    std::shared_ptr<Clock> clock = Clock::system();
};

// The command-line options of kovra-dev-service.
void addDevServiceOptions(QCommandLineParser &parser);

// The options from a parser that has processed the arguments; none with the reason
// in `error` when a value is out of range or malformed.
std::optional<DevServiceOptions> devServiceOptions(const QCommandLineParser &parser, QString *error);

} // namespace kovra::devservice
