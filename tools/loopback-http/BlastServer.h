#pragma once

#include "loopback-http/LoopbackHosts.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <atomic>
#include <memory>
#include <optional>
#include <mutex>
#include <thread>
#include <vector>

namespace kovra::loopback {

// What a BlastServer writes on every connection once it has read a request.
struct BlastAnswer {
    // The status line and headers (with the blank line after them), as they are.
    QByteArray head;
    // The body: `body` when not empty, else this many filler bytes.
    QByteArray body;
    qint64 fillerBytes = 0;
    // Only this many bytes of the body go out (all of it when negative); a chunk the body
    // breaks off in still announces its whole size.
    qint64 sendUpTo = -1;
    // The body goes out in chunks of 64 KiB, and the last (empty) chunk after it when the
    // whole body went out and lastChunk is set.
    bool chunked = false;
    bool lastChunk = true;
    // After the body: keep the connection open (none), or cut it.
    std::optional<BreakOff> breakOff;
};

// An HTTP host on 127.0.0.1 that runs on threads of its own, away from any event loop of
// the process: it answers every request with the same BlastAnswer, written as fast as the
// connection takes it (a sender that never waits for its client), then cuts the
// connection as the answer says. Stands in for a hostile host that the client cannot
// slow down by being busy.
class BlastServer {
public:
    explicit BlastServer(BlastAnswer answer);
    ~BlastServer();
    BlastServer(const BlastServer &) = delete;
    BlastServer &operator=(const BlastServer &) = delete;

    // False when no port could be taken.
    bool isListening() const { return m_listener >= 0; }
    // "http://127.0.0.1:<port><path>".
    QUrl url(const QString &path = QStringLiteral("/")) const;
    // Requests read so far (a request Qt sends again counts again).
    int requestCount() const { return m_requests.load(); }

private:
    void acceptLoop();
    void serve(int connection);

    BlastAnswer m_answer;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_requests{0};
    std::mutex m_mutex;
    std::vector<int> m_connections;
    std::vector<std::thread> m_threads;
    std::thread m_acceptor;
};

} // namespace kovra::loopback
