#pragma once

#include "platform/Resolver.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QSocketNotifier;

namespace kovra {

// One plain TCP connection (no TLS) to a host and port, driven by the event loop: a
// name is resolved on the resolver's threads, then each address is tried in turn with
// a non-blocking connect watched by a socket notifier.
//
// States: setup -> preparing -> ready, or waiting when no address could be reached
// (refused, unreachable, no such name); nothing is retried from waiting, the caller
// decides how long to wait. failed means the system would not make a socket at all.
// cancel() closes the socket and ends in cancelled; destruction closes it silently.
// Every change is signalled from the event loop, never from inside start() or cancel().
// Lives on the thread that made it, which must run an event loop.
class TcpConnection : public QObject {
    Q_OBJECT
public:
    enum class State { setup, preparing, ready, waiting, failed, cancelled };
    Q_ENUM(State)

    TcpConnection(QString host, quint16 port, std::shared_ptr<Resolver> resolver = Resolver::shared(),
                  QObject *parent = nullptr);
    ~TcpConnection() override;

    // Ports a connection can be made to: 1 to 65535.
    static bool isValidPort(qint64 port) { return port >= 1 && port <= 65535; }

    void start();
    void cancel();

    State state() const { return m_state; }
    // Why the last address could not be reached (waiting) or no socket was made (failed).
    QString errorText() const { return m_errorText; }

Q_SIGNALS:
    void stateChanged(kovra::TcpConnection::State state);

private:
    void begin();
    void lookedUp();
    void tryNext();
    void checkConnected();
    void closeSocket();
    void setState(State state);

    QString m_host;
    quint16 m_port;
    std::shared_ptr<Resolver> m_resolver;
    QFutureWatcher<AddressLookup> m_lookup;
    QStringList m_addresses;
    int m_next = 0;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    State m_state = State::setup;
    QString m_errorText;
};

} // namespace kovra
