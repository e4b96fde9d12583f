#include "loopback-http/BlastServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace kovra::loopback {

namespace {

constexpr qint64 kPiece = 64 * 1024;
constexpr qint64 kLargeWrite = 1024 * 1024;

const QByteArray &filler()
{
    static const QByteArray bytes(kLargeWrite, 'x');
    return bytes;
}

bool sendAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

bool sendAll(int fd, const QByteArray &bytes)
{
    return sendAll(fd, bytes.constData(), bytes.size());
}

// Reads one request (its head and the body its Content-Length announces); false when
// the connection ends first.
bool readRequest(int fd)
{
    QByteArray in;
    qsizetype headEnd = -1;
    qint64 bodyLength = 0;
    char buffer[16 * 1024];
    for (;;) {
        if (headEnd < 0) {
            headEnd = in.indexOf("\r\n\r\n");
            if (headEnd >= 0) {
                for (const QByteArray &line : in.left(headEnd).split('\n')) {
                    if (line.trimmed().toLower().startsWith("content-length:"))
                        bodyLength = line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
                }
            }
        }
        if (headEnd >= 0 && in.size() >= headEnd + 4 + bodyLength)
            return true;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        in.append(buffer, n);
    }
}

} // namespace

BlastServer::BlastServer(BlastAnswer answer) : m_answer(std::move(answer))
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    m_listener = fd;
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { acceptLoop(); });
}

BlastServer::~BlastServer()
{
    m_stopping = true;
    if (m_listener >= 0)
        ::shutdown(m_listener, SHUT_RDWR);
    if (m_acceptor.joinable())
        m_acceptor.join();
    {
        // Unblocks every connection still sending or reading.
        std::lock_guard lock(m_mutex);
        for (int fd : m_connections)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread &t : m_threads)
        t.join();
    for (int fd : m_connections)
        ::close(fd);
    if (m_listener >= 0)
        ::close(m_listener);
}

QUrl BlastServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
}

void BlastServer::acceptLoop()
{
    while (!m_stopping) {
        const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        std::lock_guard lock(m_mutex);
        m_connections.push_back(fd);
        m_threads.emplace_back([this, fd] { serve(fd); });
    }
}

void BlastServer::serve(int fd)
{
    const BlastAnswer &a = m_answer;
    bool open = true;
    while (open && !m_stopping && readRequest(fd)) {
        ++m_requests;
        open = sendAll(fd, a.head);
        const qint64 length = a.body.isEmpty() ? a.fillerBytes : a.body.size();
        const qint64 upTo = a.sendUpTo < 0 ? length : std::min(a.sendUpTo, length);
        for (qint64 sent = 0; open && sent < upTo;) {
            // Unchunked filler goes out in large writes; chunks are kPiece long.
            const qint64 whole = std::min(a.chunked || !a.body.isEmpty() ? kPiece : kLargeWrite, length - sent);
            const qint64 n = std::min(whole, upTo - sent);
            const char *data = a.body.isEmpty() ? filler().constData() : a.body.constData() + sent;
            if (a.chunked)
                open = sendAll(fd, QByteArray::number(whole, 16) + "\r\n");
            open = open && sendAll(fd, data, n);
            if (a.chunked && n == whole)
                open = open && sendAll(fd, QByteArray("\r\n"));
            sent += n;
        }
        if (open && a.chunked && a.lastChunk && upTo == length)
            open = sendAll(fd, QByteArray("0\r\n\r\n"));
        if (a.breakOff)
            break;
    }
    if (open && a.breakOff && !m_stopping) {
        if (a.breakOff->after.count() > 0) {
            // Waits, unless the client closes first or the server stops.
            pollfd p{fd, POLLRDHUP, 0};
            ::poll(&p, 1, int(a.breakOff->after.count()));
        }
        if (a.breakOff->how == BreakOff::How::Reset) {
            const linger reset{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        } else {
            ::shutdown(fd, SHUT_WR);
        }
    }
    // The descriptor stays open until the server goes, so it is never reused under a
    // thread that still names it; the client sees the close through the shutdown or reset.
    if (a.breakOff && a.breakOff->how == BreakOff::How::Reset) {
        std::lock_guard lock(m_mutex);
        std::erase(m_connections, fd);
        ::close(fd);
    }
}

} // namespace kovra::loopback
