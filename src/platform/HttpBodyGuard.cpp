#include "platform/HttpBodyGuard.h"

#include "platform/ConnectReports.h"

#include <QMetaObject>

#include <dirent.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// What the process has done with one TCP socket.
struct Reading {
    // The bytes it has read from it: received, less those still queued.
    quint64 read = 0;
    // Bytes received and not read yet.
    quint64 queued = 0;
    bool operator==(const Reading &) const = default;
};
// Per TCP socket of the process.
using Sample = std::unordered_map<Inode, Reading>;

// How soon the monitor looks again while bytes are still being read, since reading
// them wakes it no more than their arrival did.
constexpr std::chrono::milliseconds kRound{5};
// Keys of the monitor's own descriptors (sockets are keyed by inode, never either).
constexpr quint64 kWakeKey = 0;
constexpr quint64 kConnectsKey = ~quint64(0);

// The inode of the socket behind `fd`; 0 when `fd` names no socket.
Inode socketInode(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode) ? Inode(st.st_ino) : 0;
}

// What the process has read from a TCP socket; none when `fd` is no TCP socket.
std::optional<Reading> readingOf(int fd)
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
    const quint64 waiting = std::min(received, quint64(queued));
    return Reading{received - waiting, waiting};
}

bool anyQueued(const Sample &sample)
{
    return std::any_of(sample.begin(), sample.end(), [](const auto &entry) { return entry.second.queued > 0; });
}

// Whether some socket was read between two samples, or came or went.
bool readMoved(const Sample &before, const Sample &now)
{
    if (before.size() != now.size())
        return true;
    return std::any_of(now.begin(), now.end(), [&before](const auto &entry) {
        const auto old = before.find(entry.first);
        return old == before.end() || old->second.read != entry.second.read;
    });
}

} // namespace

// The thread that meters the sockets. It sleeps until something happens: a watch
// opens, the process connects a TCP socket, or data arrives on a socket it knows; while
// the sockets are quiet nothing runs. Watches and read-ahead come from the GUI thread
// under the mutex; the sockets it knows are its own.
class HttpBodyGuard::Monitor {
public:
    Monitor(std::atomic<qint64> &delivered, std::function<void(quint64)> trip)
        : m_delivered(delivered), m_trip(std::move(trip)), m_epoll(epoll_create1(EPOLL_CLOEXEC)),
          m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), m_connects(ConnectReports::start())
    {
        for (const auto &[fd, key] : {std::pair{m_wake, kWakeKey}, std::pair{m_connects, kConnectsKey}}) {
            if (fd < 0)
                continue;
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.u64 = key;
            epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
        }
        m_thread = std::thread([this] { run(); });
        pthread_setname_np(m_thread.native_handle(), "http-body-guard");
    }

    ~Monitor()
    {
        ConnectReports::stop();
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        wake();
        m_thread.join();
        ::close(m_wake);
        ::close(m_epoll);
    }

    // The watch counts from the monitor's next reading, which it takes at once.
    void open(quint64 id, qint64 limit, quint64 ownReadAhead)
    {
        {
            std::lock_guard lock(m_mutex);
            m_watches.push_back(WatchState{id, limit, ownReadAhead, std::nullopt, 0, false});
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

private:
    struct WatchState {
        quint64 id;
        qint64 limit;
        quint64 ownReadAhead;
        // The reading the watch counts from; a socket missing in it counts from 0.
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
        // The sockets that were open before connections were reported.
        rescan();
        std::array<epoll_event, 32> events{};
        Sample previous;
        bool lookAgain = false;
        for (;;) {
            const int n = epoll_wait(m_epoll, events.data(), int(events.size()), lookAgain ? int(kRound.count()) : -1);
            bool arrived = false;
            for (int i = 0; i < n; ++i) {
                const quint64 key = events[size_t(i)].data.u64;
                if (key == kWakeKey) {
                    quint64 count = 0;
                    [[maybe_unused]] const auto got = read(m_wake, &count, sizeof count);
                } else if (key != kConnectsKey) {
                    arrived = true;
                }
            }
            bool watching = false;
            {
                std::lock_guard lock(m_mutex);
                if (m_stopping)
                    break;
                watching = !m_watches.empty();
            }
            // Sockets connected before the reading are known by then, so one missing in
            // a watch's baseline is new and all its bytes count.
            learnConnected();
            if (!watching) {
                previous.clear();
                lookAgain = false;
                continue;
            }
            const Sample now = measure();
            // The trip reaches the GUI thread's queue before Qt can report the shut
            // socket there.
            for (const Trip &t : check(now)) {
                m_trip(t.watch);
                shutDown(t.socket);
            }
            // Qt reads what has arrived after the monitor looked, and that wakes nobody:
            // look again while bytes wait or are being read, until they stop moving.
            // Without connect reports, new sockets are only found by looking for them.
            lookAgain = (arrived && anyQueued(now)) || ((arrived || n == 0) && readMoved(previous, now))
                     || m_connects < 0;
            previous = now;
        }
    }

    // Learns the sockets the process has connected since the last call.
    void learnConnected()
    {
        int fd = -1;
        while (m_connects >= 0 && read(m_connects, &fd, sizeof fd) == ssize_t(sizeof fd))
            learn(fd);
        if (ConnectReports::overflowed() || m_connects < 0)
            rescan();
    }

    // Knows `fd` when it is a TCP socket, and is woken (edge-triggered) when data
    // arrives on it.
    void learn(int fd)
    {
        const Inode inode = socketInode(fd);
        if (inode == 0 || !readingOf(fd))
            return;
        const auto known = m_sockets.find(inode);
        if (known != m_sockets.end() && known->second == fd)
            return;
        // The descriptor named another socket before: that one is closed.
        std::erase_if(m_sockets, [fd](const auto &entry) { return entry.second == fd; });
        m_sockets[inode] = fd;
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
        event.data.u64 = inode;
        if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0 && errno == EEXIST)
            epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event);
    }

    // Learns every TCP socket the process has open, by listing its descriptors.
    void rescan()
    {
        std::vector<int> fds;
        DIR *dir = opendir("/proc/self/fd");
        if (!dir)
            return;
        const int own = dirfd(dir);
        while (const dirent *entry = readdir(dir)) {
            if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
                continue;
            const int fd = std::atoi(entry->d_name);
            if (fd != own && fd != m_epoll && fd != m_wake && fd != m_connects)
                fds.push_back(fd);
        }
        closedir(dir);
        for (const int fd : fds)
            learn(fd);
    }

    // Reads the known sockets; a descriptor that names another file now has been closed.
    Sample measure()
    {
        Sample sample;
        for (auto it = m_sockets.begin(); it != m_sockets.end();) {
            const std::optional<Reading> reading =
                socketInode(it->second) == it->first ? readingOf(it->second) : std::nullopt;
            if (!reading) {
                it = m_sockets.erase(it);
                continue;
            }
            sample.emplace(it->first, *reading);
            ++it;
        }
        return sample;
    }

    std::vector<Trip> check(const Sample &now)
    {
        std::vector<Trip> trips;
        std::lock_guard lock(m_mutex);
        const qint64 delivered = m_delivered.load(std::memory_order_relaxed);
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
            for (const auto &[inode, reading] : now) {
                const auto before = w.baseline->find(inode);
                const quint64 start = before == w.baseline->end() ? 0 : before->second.read;
                if (reading.read > start && qint64(reading.read - start) > mostRead) {
                    mostRead = qint64(reading.read - start);
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
    // The read end of the connect reports (the process keeps it open), or -1 when
    // there are none.
    const int m_connects;

    std::mutex m_mutex;
    std::vector<WatchState> m_watches;
    std::unordered_map<quint64, qint64> m_readAhead;
    bool m_stopping = false;

    // The monitor thread's own: the sockets it knows, by inode.
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
    if (!m_enabled)
        return nullptr;
    const quint64 id = m_nextId++;
    m_trips.insert(id, std::move(trip));
    monitor().open(id, limit, own ? own->m_id : 0);
    return std::unique_ptr<Watch>(new Watch(id));
}

std::unique_ptr<HttpBodyGuard::ReadAhead> HttpBodyGuard::allowReadAhead(qint64 bytes)
{
    if (!m_enabled)
        return nullptr;
    const quint64 id = m_nextId++;
    monitor().allow(id, bytes);
    return std::unique_ptr<ReadAhead>(new ReadAhead(id));
}

void HttpBodyGuard::fire(quint64 id)
{
    // A trip may close watches: nothing of this call is used after it.
    if (const std::function<void()> trip = m_trips.take(id))
        trip();
}

} // namespace kovra
