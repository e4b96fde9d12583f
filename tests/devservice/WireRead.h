#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

namespace kovra::test {

// One answer as a client reads it off the wire.
struct WireRead {
    qint64 announced = -1; // the Content-Length, if any
    QByteArray body;       // without its framing
    bool complete = false; // the announced length, the last chunk, or the close of an unannounced body
    bool closed = false;
};

// Takes `data` apart once the head is in; false while more is needed.
inline bool decodeWire(const QByteArray &data, WireRead &read)
{
    const qsizetype headEnd = data.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return read.closed;
    const QByteArray head = data.left(headEnd).toLower();
    QByteArray rest = data.mid(headEnd + 4);
    read.body.clear();
    if (head.contains("transfer-encoding: chunked")) {
        for (;;) {
            const qsizetype line = rest.indexOf("\r\n");
            bool ok = false;
            const qsizetype size = line < 0 ? -1 : rest.left(line).toLongLong(&ok, 16);
            if (!ok || rest.size() < line + 2 + size + 2)
                return read.closed;
            if (size == 0)
                return read.complete = true;
            read.body += rest.mid(line + 2, size);
            rest = rest.mid(line + 2 + size + 2);
        }
    }
    read.body = rest;
    const qsizetype at = head.indexOf("content-length: ");
    if (at >= 0)
        read.announced = head.mid(at + 16).split('\r').first().toLongLong();
    read.complete = at < 0 ? read.closed : read.body.size() >= read.announced;
    return read.complete || read.closed;
}

// Sends "GET <target>" to a loopback port and reads the answer until it is complete
// or the connection closes (10 s at the most).
inline WireRead readOffTheWire(quint16 port, const QByteArray &target)
{
    QTcpSocket socket;
    QByteArray data;
    WireRead read;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { data += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] { read.closed = true; });
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    (void)QTest::qWaitFor([&] { return decodeWire(data, read); }, 10'000);
    return read;
}

} // namespace kovra::test
