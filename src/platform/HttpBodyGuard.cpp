#include "platform/HttpBodyGuard.h"

#include <QMetaObject>

#include <dirent.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

namespace kovra {

namespace {

using Inode = quint64;
// Per TCP socket of the process: the bytes the process has read from it.
using Sample = std::unordered_map<Inode, quint64>;

using SteadyClock = std::chrono::steady_clock;

// How often the monitor looks for new sockets and reads them while a watch is open,
// besides whenever data arrives or it is told that a connection opens.
constexpr std::chrono::milliseconds kRound{5};
// How long it goes on with its rounds after the last watch closed, so that the next
// request of a burst finds a fresh reading to start from.
constexpr std::chrono::milliseconds kLinger{1000};
// The key of the monitor's own wake-up descriptor (sockets are keyed by inode, never 0).
constexpr quint64 kWakeKey = 0;

// The inode of the socket behind `fd`; 0 when `fd` names no socket.
Inode socketInode(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) ? Inode(st.st_ino) : 0;
}

// What the process has read from a TCP socket: the bytes it received minus those still
// queued. None when `fd` is no TCP socket.
std::optional<quint64> bytesRead(int fd)
{
    tcp_info info{};
    socklen_t length = sizeof info;
    if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0
        || length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
        return std::nullopt;
    int queued = 0;
    if (ioctl(fd, SIOCINQ, &queued) != 0 || queued < 0)
        queued = 0;
    const quint64 received = info.tcpi_bytes_received;
    return received > quint64(queued) ? received - quint64(queued) : 0;
}

} // namespace

// The thread that meters the sockets. Watches and read-ahead come from the GUI thread
// under the mutex; the sockets it knows are its own.
class HttpBodyGuard::Monitor {
public:
    Monitor(std::atomic<qint64> &delivered, std::function<void(quint64)> trip)
        : m_delivered(delivered), m_trip(std::move(trip)), m_epoll(epoll_create1(EPOLL_CLOEXEC)),
          m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = kWakeKey;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &event);
        m_thread = std::thread([this] { run(); });
    }

    ~Monitor()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        wake();
        m_thread.join();
        close(m_wake);
        close(m_epoll);
    }

    // A watch starts from the latest reading when it is fresh (bytes read and delivered
    // since then cancel out), else from one the monitor takes at once.
    void open(quint64 id, qint64 limit, quint64 ownReadAhead)
    {
        {
            std::lock_guard lock(m_mutex);
            WatchState w{id, limit, ownReadAhead, std::nullopt, 0, false};
            if (m_latest && SteadyClock::now() - m_latestAt <= kRound) {
                w.baseline = *m_latest;
                w.deliveredAtStart = m_latestDelivered;
            }
            const bool cold = !w.baseline;
            m_watches.push_back(std::move(w));
            if (!cold)
                return;
            // With the watch, under one lock: the monitor learns every socket before it
            // takes the watch's baseline, so a kept-alive socket it had forgotten does not
            // count its earlier bytes against the watch.
            m_rescanRequested = true;
        }
        wake();
    }

    void close(quint64 id)
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_watches, [id](const WatchState &w) { return w.id == id; });
    }

    void allow(quint64 id, qint64 bytes)
    {
        std::lock_guard lock(m_mutex);
        m_readAhead[id] = bytes;
    }

    void withdraw(quint64 id)
    {
        std::lock_guard lock(m_mutex);
        m_readAhead.erase(id);
    }

    void rescanSoon()
    {
        {
            std::lock_guard lock(m_mutex);
            m_rescanRequested = true;
        }
        wake();
    }

private:
    struct WatchState {
        quint64 id;
        qint64 limit;
        quint64 ownReadAhead;
        // The reading the watch counts from.
        std::optional<Sample> baseline;
        qint64 deliveredAtStart;
        bool tripped;
    };
    struct Trip {
        quint64 watch;
        Inode socket;
    };

    void wake()
    {
        const quint64 one = 1;
        [[maybe_unused]] const auto written = write(m_wake, &one, sizeof one);
    }

    void run()
    {
        std::array<epoll_event, 32> events{};
        SteadyClock::time_point lastScan, lastWatched;
        for (;;) {
            bool watching = false;
            bool rescanNow = false;
            {
                std::lock_guard lock(m_mutex);
                if (m_stopping)
                    break;
                watching = !m_watches.empty();
                rescanNow = std::exchange(m_rescanRequested, false);
            }
            const auto now = SteadyClock::now();
            if (watching)
                lastWatched = now;
            else if (now - lastWatched > kLinger) {
                forgetSockets();
                waitFor(events, -1);
                continue;
            }
            const bool round = now - lastScan >= kRound;
            if (rescanNow || round) {
                rescan();
                lastScan = now;
            }
            // Data arriving while nothing is watched waits for the next round.
            if (watching || rescanNow || round) {
                // The trip reaches the GUI thread's queue before Qt can report the shut
                // socket there.
                for (const Trip &t : check(measure(), now)) {
                    m_trip(t.watch);
                    shutDown(t.socket);
                }
            }
            waitFor(events, int(kRound.count()));
        }
        forgetSockets();
    }

    // Until data arrives on a known socket, the monitor is woken or `timeoutMs` passes.
    void waitFor(std::array<epoll_event, 32> &events, int timeoutMs)
    {
        const int n = epoll_wait(m_epoll, events.data(), int(events.size()), timeoutMs);
        for (int i = 0; i < n; ++i) {
            if (events[size_t(i)].data.u64 == kWakeKey) {
                quint64 count = 0;
                [[maybe_unused]] const auto got = read(m_wake, &count, sizeof count);
            }
        }
    }

    // Learns the process's TCP sockets and is woken (edge-triggered) when data arrives
    // on any of them.
    void rescan()
    {
        std::unordered_map<Inode, int> seen;
        DIR *fds = opendir("/proc/self/fd");
        if (!fds)
            return;
        const int own = dirfd(fds);
        while (const dirent *entry = readdir(fds)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
                continue;
            const int fd = std::atoi(entry->d_name);
            if (fd == own || fd == m_epoll || fd == m_wake)
                continue;
            const Inode inode = socketInode(fd);
            if (inode != 0 && bytesRead(fd))
                seen.emplace(inode, fd);
        }
        closedir(fds);
        for (const auto &[inode, fd] : seen) {
            const auto known = m_sockets.find(inode);
            if (known != m_sockets.end() && known->second == fd)
                continue;
            epoll_event event{};
            event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
            event.data.u64 = inode;
            if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0 && errno == EEXIST)
                epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event);
        }
        m_sockets = std::move(seen);
    }

    void forgetSockets()
    {
        for (const auto &[inode, fd] : m_sockets) {
            if (socketInode(fd) == inode)
                epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
        }
        m_sockets.clear();
        std::lock_guard lock(m_mutex);
        m_latest.reset();
    }

    // Reads the known sockets; a descriptor that names another file now has been closed.
    Sample measure()
    {
        Sample sample;
        for (auto it = m_sockets.begin(); it != m_sockets.end();) {
            const std::optional<quint64> read = socketInode(it->second) == it->first ? bytesRead(it->second) : std::nullopt;
            if (!read) {
                it = m_sockets.erase(it);
                continue;
            }
            sample.emplace(it->first, *read);
            ++it;
        }
        return sample;
    }

    std::vector<Trip> check(const Sample &now, SteadyClock::time_point at)
    {
        std::vector<Trip> trips;
        std::lock_guard lock(m_mutex);
        const qint64 delivered = m_delivered.load(std::memory_order_relaxed);
        m_latest = now;
        m_latestDelivered = delivered;
        m_latestAt = at;
        for (WatchState &w : m_watches) {
            if (!w.baseline) {
                w.baseline = now;
                w.deliveredAtStart = delivered;
                continue;
            }
            if (w.tripped)
                continue;
            qint64 mostRead = 0;
            Inode where = 0;
            for (const auto &[inode, read] : now) {
                const auto before = w.baseline->find(inode);
                const quint64 start = before == w.baseline->end() ? 0 : before->second;
                if (read > start && qint64(read - start) > mostRead) {
                    mostRead = qint64(read - start);
                    where = inode;
                }
            }
            qint64 othersReadAhead = 0;
            for (const auto &[id, bytes] : m_readAhead) {
                if (id != w.ownReadAhead)
                    othersReadAhead = std::max(othersReadAhead, bytes);
            }
            if (mostRead - (delivered - w.deliveredAtStart) > w.limit + othersReadAhead) {
                w.tripped = true;
                trips.push_back({w.id, where});
            }
        }
        return trips;
    }

    // Ends the reading of a socket: whoever reads it next sees its end. A copy of the
    // descriptor names the same socket whatever its owner does with the original.
    void shutDown(Inode socket)
    {
        const auto known = m_sockets.find(socket);
        if (known == m_sockets.end())
            return;
        const int copy = fcntl(known->second, F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            return;
        if (socketInode(copy) == socket)
            shutdown(copy, SHUT_RDWR);
        ::close(copy);
    }

    std::atomic<qint64> &m_delivered;
    const std::function<void(quint64)> m_trip;
    const int m_epoll;
    const int m_wake;

    std::mutex m_mutex;
    std::vector<WatchState> m_watches;
    std::unordered_map<quint64, qint64> m_readAhead;
    // The latest reading, what readers had taken by then, and when it was taken.
    std::optional<Sample> m_latest;
    qint64 m_latestDelivered = 0;
    SteadyClock::time_point m_latestAt;
    bool m_rescanRequested = false;
    bool m_stopping = false;

    // The monitor thread's own: the sockets it reads, by inode.
    std::unordered_map<Inode, int> m_sockets;
    std::thread m_thread;
};

HttpBodyGuard &HttpBodyGuard::instance()
{
    static HttpBodyGuard guard;
    return guard;
}

HttpBodyGuard::HttpBodyGuard() : m_context(std::make_unique<QObject>()) {}

HttpBodyGuard::~HttpBodyGuard()
{
    // The monitor posts to the context: it stops first.
    m_monitor.reset();
}

HttpBodyGuard::Watch::~Watch()
{
    HttpBodyGuard &guard = instance();
    guard.m_trips.remove(m_id);
    guard.m_monitor->close(m_id);
}

HttpBodyGuard::ReadAhead::~ReadAhead()
{
    instance().m_monitor->withdraw(m_id);
}

HttpBodyGuard::Monitor &HttpBodyGuard::monitor()
{
    if (!m_monitor) {
        QObject *context = m_context.get();
        m_monitor = std::make_unique<Monitor>(m_delivered, [context](quint64 id) {
            QMetaObject::invokeMethod(context, [id] { instance().fire(id); }, Qt::QueuedConnection);
        });
    }
    return *m_monitor;
}

std::unique_ptr<HttpBodyGuard::Watch> HttpBodyGuard::watch(qint64 limit, const ReadAhead *own,
                                                          std::function<void()> trip)
{
    const quint64 id = m_nextId++;
    m_trips.insert(id, std::move(trip));
    monitor().open(id, limit, own ? own->m_id : 0);
    return std::unique_ptr<Watch>(new Watch(id));
}

std::unique_ptr<HttpBodyGuard::ReadAhead> HttpBodyGuard::allowReadAhead(qint64 bytes)
{
    const quint64 id = m_nextId++;
    monitor().allow(id, bytes);
    return std::unique_ptr<ReadAhead>(new ReadAhead(id));
}

void HttpBodyGuard::socketsChanged()
{
    if (m_monitor)
        m_monitor->rescanSoon();
}

void HttpBodyGuard::fire(quint64 id)
{
    // A trip may close watches: nothing of this call is used after it.
    if (const std::function<void()> trip = m_trips.take(id))
        trip();
}

} // namespace kovra
