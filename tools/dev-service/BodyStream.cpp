#include "dev-service/BodyStream.h"

#include "loopback-http/LoopbackHosts.h"

namespace kovra::devservice {

namespace {

constexpr qint64 kChunk = 16 * 1024;
constexpr qint64 kMaxQueued = 4 * kChunk;

const QByteArray &filler()
{
    static const QByteArray bytes = [] {
        const QByteArray pattern("0123456789abcdefghijklmnopqrstuvwxyz\n");
        QByteArray out;
        while (out.size() < kChunk)
            out += pattern;
        return out.left(kChunk);
    }();
    return bytes;
}

} // namespace

BodyStream::BodyStream(loopback::Exchange *exchange, qint64 length, qint64 sendUpTo)
    : QObject(exchange), m_exchange(exchange), m_length(length), m_sendUpTo(std::clamp<qint64>(sendUpTo, 0, length))
{
}

void BodyStream::start(loopback::Exchange *exchange, const QByteArray &head, qint64 length, qint64 sendUpTo)
{
    if (!exchange->isOpen()) {
        exchange->finish();
        return;
    }
    // Owned by the exchange: it ends with the connection.
    auto *stream = new BodyStream(exchange, length, sendUpTo);
    exchange->socket()->write(head);
    connect(exchange->socket(), &QIODevice::bytesWritten, stream, &BodyStream::pump);
    stream->pump();
}

void BodyStream::pump()
{
    if (!m_exchange->isOpen())
        return;
    QTcpSocket *socket = m_exchange->socket();
    while (m_sent < m_sendUpTo && socket->bytesToWrite() < kMaxQueued) {
        const qint64 n = std::min(kChunk, m_sendUpTo - m_sent);
        socket->write(filler().constData(), n);
        m_sent += n;
    }
    if (m_sent < m_sendUpTo)
        return;
    disconnect(socket, nullptr, this, nullptr);
    if (m_sent < m_length)
        m_exchange->close(); // the queued bytes still go out before the connection closes
    else
        m_exchange->finish();
}

} // namespace kovra::devservice
