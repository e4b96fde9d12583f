#pragma once

#include <QByteArray>
#include <QObject>

namespace kovra::loopback {
class Exchange;
}

namespace kovra::devservice {

// Writes a response head and then `length` filler bytes to an exchange's connection,
// a chunk at a time as the socket drains, so large bodies never sit in memory whole.
// With `sendUpTo` short of `length` the body breaks off there and the connection
// closes; otherwise the exchange finishes when the last chunk is queued.
class BodyStream : public QObject {
    Q_OBJECT
public:
    static void start(loopback::Exchange *exchange, const QByteArray &head, qint64 length, qint64 sendUpTo);

private:
    BodyStream(loopback::Exchange *exchange, qint64 length, qint64 sendUpTo);
    void pump();

    loopback::Exchange *m_exchange;
    qint64 m_length;
    qint64 m_sendUpTo;
    qint64 m_sent = 0;
};

} // namespace kovra::devservice
