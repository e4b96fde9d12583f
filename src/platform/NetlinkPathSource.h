#pragma once

#include "platform/NetworkPath.h"

#include <QMutex>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class QThread;

namespace kovra {

namespace detail {
class PathWatcher;
}

// Opens a NETLINK_ROUTE socket: socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE).
int openRouteSocket();

struct NetlinkPathSourceOptions {
    // Where interface kinds are read (<sysRoot>/class/net/<name>).
    QString sysRoot = QStringLiteral("/sys");
    // Opens a NETLINK_ROUTE datagram socket; -1 (with errno) on failure. Called
    // twice per start (events and dumps), on the source's thread.
    std::function<int()> openSocket = openRouteSocket;
    // Where the source runs and reports; the process-wide path thread when null.
    QThread *thread = nullptr;
    // Bound on the kernel's answer to one dump request.
    std::chrono::milliseconds dumpTimeout{2000};
};

// The host's network path from rtnetlink. A socket subscribed to link, address, route
// and nexthop events is watched by a QSocketNotifier (nothing polls); each batch of
// events triggers a fresh dump of links, nexthops and routes, from which the path is
// computed. A path is reported when it differs from the previous report (the first one
// always). Everything, the sysfs reads included, runs on the source's thread.
class NetlinkPathSource final : public NetworkPathSource {
public:
    using Options = NetlinkPathSourceOptions;

    explicit NetlinkPathSource(Options options = {});
    ~NetlinkPathSource() override;

    void start(Handler handler) override;
    void cancel() override;

    // A factory of sources that share these options.
    static NetworkPathSourceFactory factory(Options options = {});

private:
    Options m_options;
    QMutex m_mutex;
    bool m_started = false;
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
    detail::PathWatcher *m_watcher = nullptr;
};

} // namespace kovra
