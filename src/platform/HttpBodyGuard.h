#pragma once

#include "platform/Clock.h"

#include <QHash>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>

namespace kovra {

// Keeps replies whose body Qt withholds from bounding the process's memory.
//
// Qt reads the whole body of a 401 or 407 answer before it shows the reply anything
// (no headers, no data, no progress), so a reader cannot stop such a body at its cap.
// The guard therefore watches what the process reads from its TCP sockets: while a
// watch is open, when some socket has been read by more than the watch's limit beyond
// what the HTTP readers took from their replies in the same time, the bytes are
// piling up where nobody sees them, and the watch trips. The sockets are first read
// at the next sampling after a watch opens, so a request answered before then (the
// usual case) costs no look at them; the time counts from that sample.
//
// Readers report what they take with delivered(); the replies they read keep a small
// read-ahead, so data in transit to a reader stays well below any sensible limit.
// Which request a socket serves is not known: a trip ends every request that was
// waiting for its answer while the bytes piled up.
// One guard per process (it meters a process-wide resource); used on the GUI thread.
class HttpBodyGuard {
    using Sample = QHash<quint64, quint64>; // socket inode -> bytes the process read from it
    struct WatchState {
        qint64 limit;
        std::function<void()> trip;
        // From the first sample after the watch opened.
        std::optional<Sample> baseline;
        qint64 deliveredAtStart = 0;
    };

public:
    // An open watch; destroying it closes it.
    class Watch {
    public:
        ~Watch();
        Watch(const Watch &) = delete;
        Watch &operator=(const Watch &) = delete;

    private:
        friend class HttpBodyGuard;
        explicit Watch(std::list<WatchState>::iterator it) : m_it(it) {}
        std::list<WatchState>::iterator m_it;
    };

    // How often the sockets are read while a watch is open.
    static constexpr std::chrono::milliseconds samplingInterval{10};

    static HttpBodyGuard &instance();

    // Calls `trip` once, from the event loop, when the condition above holds for
    // `limit` bytes.
    [[nodiscard]] std::unique_ptr<Watch> watch(qint64 limit, std::function<void()> trip);

    // Bytes a reader took from its reply.
    void delivered(qint64 bytes) { m_delivered += bytes; }

private:
    HttpBodyGuard() = default;
    static Sample sample();
    void arm();
    void check();

    std::list<WatchState> m_watches;
    qint64 m_delivered = 0;
    std::unique_ptr<ClockTimer> m_timer;
};

} // namespace kovra
