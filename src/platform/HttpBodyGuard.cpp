#include "platform/HttpBodyGuard.h"

#include <dirent.h>
#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <vector>

namespace kovra {

HttpBodyGuard &HttpBodyGuard::instance()
{
    static HttpBodyGuard guard;
    return guard;
}

HttpBodyGuard::Watch::~Watch()
{
    HttpBodyGuard &guard = instance();
    guard.m_watches.erase(m_it);
    if (guard.m_watches.empty())
        guard.m_timer.reset();
}

// Per TCP socket of the process: the bytes it received minus those still queued,
// i.e. what the process has read from it.
HttpBodyGuard::Sample HttpBodyGuard::sample()
{
    Sample out;
    DIR *fds = opendir("/proc/self/fd");
    if (!fds)
        return out;
    const int own = dirfd(fds);
    while (const dirent *entry = readdir(fds)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        const int fd = std::atoi(entry->d_name);
        struct stat st {};
        if (fd == own || fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
            continue;
        tcp_info info{};
        socklen_t length = sizeof info;
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0
            || length < offsetof(tcp_info, tcpi_bytes_received) + sizeof info.tcpi_bytes_received)
            continue;
        int queued = 0;
        if (ioctl(fd, SIOCINQ, &queued) != 0 || queued < 0)
            queued = 0;
        const quint64 received = info.tcpi_bytes_received;
        out.insert(quint64(st.st_ino), received > quint64(queued) ? received - quint64(queued) : 0);
    }
    closedir(fds);
    return out;
}

std::unique_ptr<HttpBodyGuard::Watch> HttpBodyGuard::watch(qint64 limit, std::function<void()> trip)
{
    m_watches.push_back({limit, std::move(trip), std::nullopt, 0});
    std::unique_ptr<Watch> watch(new Watch(std::prev(m_watches.end())));
    if (!m_timer)
        arm();
    return watch;
}

void HttpBodyGuard::arm()
{
    m_timer = Clock::system()->startTimer(samplingInterval, [this] { check(); });
}

void HttpBodyGuard::check()
{
    const Sample now = sample();
    std::vector<std::function<void()>> tripped;
    for (WatchState &w : m_watches) {
        if (!w.baseline) {
            w.baseline = now;
            w.deliveredAtStart = m_delivered;
            continue;
        }
        if (!w.trip)
            continue;
        qint64 mostRead = 0;
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            const quint64 before = w.baseline->value(it.key(), 0);
            if (it.value() > before)
                mostRead = std::max(mostRead, qint64(it.value() - before));
        }
        if (mostRead - (m_delivered - w.deliveredAtStart) > w.limit)
            tripped.push_back(std::exchange(w.trip, nullptr));
    }
    arm();
    // A trip may close watches, this guard's timer included: nothing of this call is
    // used after it.
    for (const auto &trip : tripped)
        trip();
}

} // namespace kovra
