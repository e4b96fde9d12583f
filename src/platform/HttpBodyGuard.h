#pragma once

#include <QHash>
#include <QObject>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>

namespace kovra {

// Keeps replies whose body Qt withholds from bounding the process's memory.
//
// Qt reads the whole body of a 401 or 407 answer before it shows the reply anything
// (no headers, no data, no progress), so a reader cannot stop such a body at its cap,
// and over plain HTTP it reads that body in one loop for as long as the sender keeps up,
// so an abort of the reply waits for the body's end. The guard therefore meters what the
// process reads from its TCP sockets, on a thread of its own. It learns each socket as
// the process connects it (see ConnectReports) and wakes when data arrives on one of
// them; while no watch is open or the sockets are quiet, it sleeps. While a watch is
// open, once some socket has been read by more than the watch's limit beyond what the
// HTTP readers took in the same time (and beyond what Qt may read ahead of the other
// requests' readers), the bytes are piling up where nobody sees them. The guard then
// shuts that socket down, which ends Qt's reading at once, and the watch trips.
//
// Readers report what they take with delivered(); a request holds a ReadAhead for as long
// as Qt may read its body ahead of its reader (from its start: the body may be on its way
// before the reader hears of the head). Which request a socket serves is not known: a trip
// ends every request that was waiting for its answer while the bytes piled up.
// One guard per process (it meters a process-wide resource); its functions are called on
// the GUI thread, and trips are called there, from the event loop.
class HttpBodyGuard {
public:
    // An open watch; destroying it closes it.
    class Watch {
    public:
        ~Watch();
        Watch(const Watch &) = delete;
        Watch &operator=(const Watch &) = delete;

    private:
        friend class HttpBodyGuard;
        explicit Watch(quint64 id) : m_id(id) {}
        quint64 m_id;
    };

    // Read-ahead that Qt may hold for one reader; destroying it withdraws it.
    class ReadAhead {
    public:
        ~ReadAhead();
        ReadAhead(const ReadAhead &) = delete;
        ReadAhead &operator=(const ReadAhead &) = delete;

    private:
        friend class HttpBodyGuard;
        explicit ReadAhead(quint64 id) : m_id(id) {}
        quint64 m_id;
    };

    static HttpBodyGuard &instance();
    ~HttpBodyGuard();

    // Qt may hold up to `bytes` of a request's body ahead of its reader.
    [[nodiscard]] std::unique_ptr<ReadAhead> allowReadAhead(qint64 bytes);
    // Calls `trip` once, from the event loop, when the condition above holds for `limit`
    // bytes read from now on (open it before the request's reply is made: Qt may send a
    // request out as its reply is made); `own` is the read-ahead of the watching request
    // itself (it does not count).
    [[nodiscard]] std::unique_ptr<Watch> watch(qint64 limit, const ReadAhead *own, std::function<void()> trip);
    // Off, the guard hands out no read-ahead and no watches (nullptr) and runs nothing:
    // for measuring what it costs. On by default.
    void setEnabled(bool enabled) { m_enabled = enabled; }
    // Bytes a reader took from its reply.
    void delivered(qint64 bytes) { m_delivered.fetch_add(bytes, std::memory_order_relaxed); }

private:
    class Monitor;
    HttpBodyGuard();
    Monitor &monitor();
    void fire(quint64 id);

    std::atomic<qint64> m_delivered{0};
    bool m_enabled = true;
    quint64 m_nextId = 1;
    // Trips by watch, touched on the GUI thread only.
    QHash<quint64, std::function<void()>> m_trips;
    // Where the monitor hands trips to the GUI thread.
    std::unique_ptr<QObject> m_context;
    std::unique_ptr<Monitor> m_monitor;
};

} // namespace kovra
