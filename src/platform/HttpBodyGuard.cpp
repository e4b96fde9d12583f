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
};
// Per TCP socket of the process.
using Sample = std::unordered_map<Inode, Reading>;

// How soon the monitor looks again while bytes are being read, since reading them wakes
// it no more than their arrival did; and, doubling up to the longest wait, while bytes
// wait unread (a reader that is slow to be scheduled will still be seen reading them).
constexpr std::chrono::milliseconds kRound{5};
constexpr std::chrono::milliseconds kLongestWait{1000};
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

// The reading of a socket the monitor knows by `inode` at `fd`; none when the descriptor
// names another file now (the socket has been closed).
std::optional<Reading> readingOfKnown(Inode inode, int fd)
{
    return socketInode(fd) == inode ? readingOf(fd) : std::nullopt;
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

// The thread that meters the sockets. It sleeps until something happens: the process
// connects a TCP socket, or data arrives on a socket it knows; while the sockets are
// quiet nothing runs. Watches, read-ahead and the sockets it knows are shared with the
// GUI thread under the mutex.
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
        // The sockets that were open before connects were reported, known before the
        // first watch opens.
        rescan();
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

    // The watch counts from here: a socket it knows from what has been read of it now
    // (the watch opens before its request is made, so no byte of the answer has been
    // read yet), a socket connected later from its start.
    void open(quint64 id, qint64 limit, quint64 ownReadAhead)
    {
        const quint64 connects = ConnectReports::latest();
        std::lock_guard lock(m_mutex);
        WatchState w{id, limit, ownReadAhead, connects, {}, m_delivered.load(std::memory_order_relaxed), false};
        for (const auto &[inode, socket] : m_sockets) {
            if (const std::optional<Reading> reading = readingOfKnown(inode, socket.fd))
                w.baseline.emplace(inode, reading->read);
        }
        m_watches.push_back(std::move(w));
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
    struct Socket {
        int fd;
        // Its connect's report sequence; 0 when it was found by listing the descriptors.
        quint64 connect;
        // What had been read of it when it was learnt.
        quint64 readWhenLearnt;
    };
    struct WatchState {
        quint64 id;
        qint64 limit;
        quint64 ownReadAhead;
        // The latest connect reported when the watch opened, and what had been read of
        // the sockets known then.
        quint64 connectsAtStart;
        std::unordered_map<Inode, quint64> baseline;
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
        Sample previous;
        // How long until the monitor looks again, in milliseconds; -1: until something
        // wakes it.
        int lookAgain = -1;
        for (;;) {
            const int n = epoll_wait(m_epoll, events.data(), int(events.size()), lookAgain);
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
            learnConnected();
            if (!watching) {
                previous.clear();
                lookAgain = -1;
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
            // look again soon while bytes arrive or are being read, then less and less
            // often while some wait unread, and not at all once none do. A wake for a
            // socket that connected changes none of that. Without connect reports, new
            // sockets are only found by looking for them.
            const bool looked = arrived || n == 0;
            if ((arrived && anyQueued(now)) || (looked && readMoved(previous, now)) || m_connects < 0)
                lookAgain = int(kRound.count());
            else if (looked && lookAgain >= 0 && anyQueued(now))
                lookAgain = std::min(lookAgain * 2, int(kLongestWait.count()));
            else if (looked)
                lookAgain = -1;
            previous = now;
        }
    }

    // Learns the sockets the process has connected since the last call.
    void learnConnected()
    {
        ConnectReports::Report report{};
        while (m_connects >= 0 && read(m_connects, &report, sizeof report) == ssize_t(sizeof report))
            learn(report.fd, report.sequence);
        if (ConnectReports::overflowed() || m_connects < 0)
            rescan();
    }

    // Knows `fd` when it is a TCP socket, and is woken (edge-triggered) when data
    // arrives on it.
    void learn(int fd, quint64 connect)
    {
        const Inode inode = socketInode(fd);
        const std::optional<Reading> reading = inode != 0 ? readingOf(fd) : std::nullopt;
        if (!reading)
            return;
        {
            std::lock_guard lock(m_mutex);
            const auto known = m_sockets.find(inode);
            if (known != m_sockets.end() && known->second.fd == fd)
                return;
            // The descriptor named another socket before: that one is closed.
            std::erase_if(m_sockets, [fd](const auto &entry) { return entry.second.fd == fd; });
            m_sockets[inode] = Socket{fd, connect, reading->read};
        }
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
            learn(fd, 0);
    }

    // Reads the known sockets; a descriptor that names another file now has been closed.
    Sample measure()
    {
        Sample sample;
        std::lock_guard lock(m_mutex);
        for (auto it = m_sockets.begin(); it != m_sockets.end();) {
            const std::optional<Reading> reading = readingOfKnown(it->first, it->second.fd);
            if (!reading) {
                it = m_sockets.erase(it);
                continue;
            }
            sample.emplace(it->first, *reading);
            ++it;
        }
        return sample;
    }

    // What a watch counts a socket's bytes from: the reading it opened with, or every
    // byte of a socket connected after it opened; a socket connected before it opened
    // but learnt since, from when it was learnt.
    static quint64 countsFrom(const WatchState &w, Inode inode, const Socket &socket)
    {
        if (socket.connect > w.connectsAtStart)
            return 0;
        const auto before = w.baseline.find(inode);
        return before != w.baseline.end() ? before->second : socket.readWhenLearnt;
    }

    std::vector<Trip> check(const Sample &now)
    {
        std::vector<Trip> trips;
        std::lock_guard lock(m_mutex);
        const qint64 delivered = m_delivered.load(std::memory_order_relaxed);
        for (WatchState &w : m_watches) {
            if (w.tripped)
                continue;
            qint64 mostRead = 0;
            Inode where = 0;
            for (const auto &[inode, reading] : now) {
                const auto socket = m_sockets.find(inode);
                if (socket == m_sockets.end())
                    continue;
                const quint64 start = countsFrom(w, inode, socket->second);
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
        int fd = -1;
        {
            std::lock_guard lock(m_mutex);
            const auto known = m_sockets.find(socket);
            if (known == m_sockets.end())
                return;
            fd = known->second.fd;
        }
        const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
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
    // The sockets the monitor knows, by inode; only its thread (and its constructor)
    // changes them.
    std::unordered_map<Inode, Socket> m_sockets;
    bool m_stopping = false;
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
