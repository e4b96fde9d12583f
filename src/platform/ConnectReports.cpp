#include "platform/ConnectReports.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

using ConnectFunction = int (*)(int, const sockaddr *, socklen_t);

std::atomic<ConnectFunction> g_next{nullptr};
// The pipe's write end while reports are on, else -1.
std::atomic<int> g_reports{-1};
std::atomic<bool> g_overflowed{false};
std::atomic<quint64> g_sequence{0};

// The connect() this one stands in front of: the next definition in the lookup order,
// so that a preloaded wrapper (a proxy library, say) still sees the call.
ConnectFunction next()
{
    ConnectFunction f = g_next.load(std::memory_order_acquire);
    if (!f) {
        f = reinterpret_cast<ConnectFunction>(dlsym(RTLD_NEXT, "connect"));
        g_next.store(f, std::memory_order_release);
    }
    return f;
}

// Resolved before main(), so that a connect() from a signal handler never has to.
[[maybe_unused]] const ConnectFunction g_resolved = next();

void report(int fd)
{
    const int out = g_reports.load(std::memory_order_acquire);
    if (out < 0)
        return;
    const int saved = errno;
    const kovra::ConnectReports::Report r{g_sequence.fetch_add(1, std::memory_order_acq_rel) + 1, fd};
    // A pipe takes writes of this size whole or not at all.
    if (write(out, &r, sizeof r) != ssize_t(sizeof r))
        g_overflowed.store(true, std::memory_order_release);
    errno = saved;
}

struct Pipe {
    int read = -1;
    int write = -1;
};

} // namespace

extern "C" __attribute__((visibility("default"))) int connect(int fd, const sockaddr *address, socklen_t length)
{
    const ConnectFunction f = next();
#ifdef SYS_connect
    const int result = f ? f(fd, address, length) : int(syscall(SYS_connect, fd, address, length));
#else
    const int result = f(fd, address, length);
#endif
    if (address && (address->sa_family == AF_INET || address->sa_family == AF_INET6)
        && (result == 0 || errno == EINPROGRESS))
        report(fd);
    return result;
}

namespace kovra::ConnectReports {

int start()
{
    static const Pipe reports = [] {
        int ends[2] = {-1, -1};
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
            return Pipe{};
        return Pipe{ends[0], ends[1]};
    }();
    g_reports.store(reports.write, std::memory_order_release);
    return reports.read;
}

void stop()
{
    g_reports.store(-1, std::memory_order_release);
}

quint64 latest()
{
    return g_sequence.load(std::memory_order_acquire);
}

bool overflowed()
{
    return g_overflowed.exchange(false, std::memory_order_acq_rel);
}

} // namespace kovra::ConnectReports
