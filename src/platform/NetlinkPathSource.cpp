#include "platform/NetlinkPathSource.h"

#include "platform/InterfaceKinds.h"
#include "platform/Log.h"
#include "platform/RouteNetlink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QSocketNotifier>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <linux/if.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kovra {
namespace {

const Logger &logger()
{
    static const Logger log(QStringLiteral("NetworkPath"));
    return log;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The thread every source without a thread of its own runs on; ended with the application.
QMutex pathThreadMutex;
QThread *pathThreadInstance = nullptr;

void endPathThread()
{
    QMutexLocker lock(&pathThreadMutex);
    if (!pathThreadInstance)
        return;
    pathThreadInstance->quit();
    pathThreadInstance->wait();
    delete pathThreadInstance;
    pathThreadInstance = nullptr;
}

QThread *sharedPathThread()
{
    QMutexLocker lock(&pathThreadMutex);
    if (!pathThreadInstance) {
        pathThreadInstance = new QThread;
        pathThreadInstance->setObjectName(QStringLiteral("kovra-network-path"));
        pathThreadInstance->start();
        qAddPostRoutine(endPathThread);
    }
    return pathThreadInstance;
}

constexpr int receiveBufferBytes = 1 << 20;
constexpr qsizetype datagramBytes = 64 * 1024;
constexpr int dumpAttempts = 3;

} // namespace

namespace detail {

// Owns the sockets; lives on the source's thread from begin() until deleted there.
class PathWatcher : public QObject {
public:
    PathWatcher(NetlinkPathSource::Options options, NetworkPathSource::Handler handler,
                std::shared_ptr<std::atomic<bool>> cancelled)
        : m_options(std::move(options)), m_handler(std::move(handler)), m_cancelled(std::move(cancelled)),
          m_buffer(datagramBytes, Qt::Uninitialized)
    {
    }

    ~PathWatcher() override
    {
        delete m_notifier;
        for (int fd : {m_events, m_dump}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    void begin()
    {
        if (m_cancelled->load())
            return;
        m_events = openSocket(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE
                              | RTMGRP_IPV6_ROUTE);
        if (m_events < 0)
            return;
        // Nexthop objects have a group number beyond the bind mask; older kernels lack it.
        const int nexthopGroup = RTNLGRP_NEXTHOP;
        ::setsockopt(m_events, SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &nexthopGroup, sizeof(nexthopGroup));
        ::setsockopt(m_events, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof(receiveBufferBytes));
        m_dump = openSocket(0);
        if (m_dump < 0)
            return;
        sockaddr_nl local{};
        socklen_t length = sizeof(local);
        if (::getsockname(m_dump, reinterpret_cast<sockaddr *>(&local), &length) != 0) {
            logger().error(QStringLiteral("network path: cannot read the netlink port: ") + errnoText(errno));
            return;
        }
        m_dumpPort = local.nl_pid;
        m_notifier = new QSocketNotifier(m_events, QSocketNotifier::Read);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { onEvents(); });
        refresh();
    }

private:
    int openSocket(quint32 groups)
    {
        const int fd = m_options.openSocket ? m_options.openSocket() : -1;
        if (fd < 0) {
            logger().error(QStringLiteral("network path: cannot open a netlink socket: ") + errnoText(errno));
            return -1;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        sockaddr_nl local{};
        local.nl_family = AF_NETLINK;
        local.nl_groups = groups;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof(local)) != 0) {
            logger().error(QStringLiteral("network path: cannot bind the netlink socket: ") + errnoText(errno));
            ::close(fd);
            return -1;
        }
        return fd;
    }

    struct Datagram {
        ssize_t size = -1;  // -1 with errno when the socket had nothing or failed
        bool fromKernel = false;
        bool truncated = false;
    };

    Datagram receive(int fd)
    {
        sockaddr_nl from{};
        iovec io{m_buffer.data(), size_t(m_buffer.size())};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof(from);
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        Datagram datagram;
        datagram.size = ::recvmsg(fd, &message, MSG_DONTWAIT);
        // Only the kernel speaks rtnetlink to us; anyone else may address our port.
        datagram.fromKernel =
            message.msg_namelen >= sizeof(from) && from.nl_family == AF_NETLINK && from.nl_pid == 0;
        datagram.truncated = message.msg_flags & MSG_TRUNC;
        return datagram;
    }

    void onEvents()
    {
        bool changed = false;
        for (;;) {
            const Datagram datagram = receive(m_events);
            if (datagram.size >= 0) {
                changed = changed || datagram.fromKernel;
                continue;
            }
            if (errno == EINTR)
                continue;
            // The kernel dropped events for want of room: the dump below catches up.
            if (errno == ENOBUFS) {
                changed = true;
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                logger().error(QStringLiteral("network path: reading events failed: ") + errnoText(errno));
            break;
        }
        if (changed)
            refresh();
    }

    void refresh()
    {
        for (int attempt = 0; attempt < dumpAttempts; ++attempt) {
            netlink::RouteSnapshot snapshot;
            if (!dumpAll(snapshot))
                return;
            if (snapshot.interrupted)
                continue;
            report(netlink::pathOf(snapshot, [this](const netlink::Link &link) {
                if (link.flags & IFF_LOOPBACK)
                    return InterfaceKind::Loopback;
                return interfaceKind(m_options.sysRoot, link.name, link.type);
            }));
            return;
        }
        // The tables keep changing; the events that changed them bring another refresh.
    }

    void report(const NetworkPath &path)
    {
        if (m_last == path || m_cancelled->load())
            return;
        m_last = path;
        logger().debug(QStringLiteral("network path: ") + toString(path));
        m_handler(path);
    }

    bool dumpAll(netlink::RouteSnapshot &snapshot)
    {
        return dump(RTM_GETLINK, AF_UNSPEC, snapshot, true) && dump(RTM_GETNEXTHOP, AF_UNSPEC, snapshot, false)
            && dump(RTM_GETROUTE, AF_INET, snapshot, true) && dump(RTM_GETROUTE, AF_INET6, snapshot, false);
    }

    // Sends one dump request and reads its replies within the bound. A dump the kernel
    // does not offer (nexthops before 5.3, IPv6 when disabled) may be optional.
    bool dump(quint16 type, quint8 family, netlink::RouteSnapshot &snapshot, bool required)
    {
        const quint32 seq = ++m_seq;
        const QByteArray request = netlink::dumpRequest(type, family, seq);
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(m_dump, request.constData(), size_t(request.size()), 0, reinterpret_cast<sockaddr *>(&kernel),
                     sizeof(kernel))
            < 0)
            return failed(type, errnoText(errno), required);
        const QDeadlineTimer deadline(m_options.dumpTimeout);
        for (;;) {
            pollfd poll{m_dump, POLLIN, 0};
            const int ready = ::poll(&poll, 1, int(std::clamp<qint64>(deadline.remainingTime(), 0, 60000)));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return failed(type, QStringLiteral("no answer"), required);
            const Datagram datagram = receive(m_dump);
            if (datagram.size < 0) {
                if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                    continue;
                return failed(type, errnoText(errno), required);
            }
            if (!datagram.fromKernel)
                continue;
            if (datagram.truncated)
                return failed(type, QStringLiteral("reply larger than the buffer"), required);
            const netlink::ReadResult result =
                netlink::readDumpReplies(QByteArrayView(m_buffer.constData(), datagram.size), seq, m_dumpPort, snapshot);
            if (result.outcome == netlink::ReadOutcome::Done)
                return true;
            if (result.outcome == netlink::ReadOutcome::Failed)
                return failed(type, result.error ? errnoText(result.error) : QStringLiteral("malformed reply"), required);
        }
    }

    bool failed(quint16 type, const QString &why, bool required)
    {
        if (!required)
            return true;
        logger().error(QStringLiteral("network path: dump %1 failed: %2").arg(type).arg(why));
        return false;
    }

    NetlinkPathSource::Options m_options;
    NetworkPathSource::Handler m_handler;
    std::shared_ptr<std::atomic<bool>> m_cancelled;
    QByteArray m_buffer;
    int m_events = -1;
    int m_dump = -1;
    quint32 m_dumpPort = 0;
    quint32 m_seq = 0;
    QSocketNotifier *m_notifier = nullptr;
    std::optional<NetworkPath> m_last;
};

} // namespace detail

NetlinkPathSource::NetlinkPathSource(Options options) : m_options(std::move(options)) {}

NetlinkPathSource::~NetlinkPathSource()
{
    cancel();
}

void NetlinkPathSource::start(Handler handler)
{
    QMutexLocker lock(&m_mutex);
    if (m_started || m_cancelled->load())
        return;
    m_started = true;
    QThread *thread = m_options.thread ? m_options.thread : sharedPathThread();
    m_watcher = new detail::PathWatcher(m_options, std::move(handler), m_cancelled);
    m_watcher->moveToThread(thread);
    QMetaObject::invokeMethod(m_watcher, &detail::PathWatcher::begin, Qt::QueuedConnection);
}

void NetlinkPathSource::cancel()
{
    QMutexLocker lock(&m_mutex);
    m_cancelled->store(true);
    if (m_watcher) {
        m_watcher->deleteLater();
        m_watcher = nullptr;
    }
}

NetworkPathSourceFactory NetlinkPathSource::factory(Options options)
{
    return [options]() -> std::shared_ptr<NetworkPathSource> { return std::make_shared<NetlinkPathSource>(options); };
}

int openRouteSocket()
{
    return ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
}

} // namespace kovra
