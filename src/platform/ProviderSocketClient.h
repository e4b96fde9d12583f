#pragma once

#include "platform/Async.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/TunnelWire.h"
#include "platform/VPNStatus.h"

#include <QFileSystemWatcher>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QLocalSocket;

namespace kovra {

// The connection to the tunnel provider's Unix socket. It connects from the event
// loop after start(), and again by itself after a failure or a loss. Nothing it
// reports happens inside a call made to it: status changes and reply handlers are
// delivered later from the event loop, in the order the provider sent them.
// Lives on the GUI thread.
class ProviderSocketClient : public QObject {
    Q_OBJECT
public:
    // The provider's reply, or none: the connection dropped, the client was destroyed or
    // the reply bound passed.
    using ReplyHandler = std::function<void(std::optional<tunnelwire::ReplyLine>)>;

    // Retries after a failed or lost connection: first after `retryInterval`, then twice
    // as long after each failure up to `maxRetryInterval`; at once when the socket's
    // folder changes (the provider making its socket). A null clock is the system's.
    ProviderSocketClient(QString socketPath, std::chrono::milliseconds retryInterval,
                         std::chrono::milliseconds maxRetryInterval, std::shared_ptr<Clock> clock,
                         QObject *parent = nullptr);
    // Pending reply handlers run at once with none.
    ~ProviderSocketClient() override;

    QString socketPath() const { return m_path; }

    // Makes the first connection attempt on the next turn of the event loop.
    void start();
    // Tries at once when neither connected nor connecting, and returns the settled
    // result that this attempt (or the running one) will resolve.
    OneShot<> connectNow();

    // True while the socket is connected.
    bool isConnected() const { return m_connected; }
    // The provider's status as last delivered; Disconnected while no provider is connected.
    VPNStatus status() const { return m_status; }
    // Resolved once the status is known after the latest connection attempt: the
    // provider reported it, or nobody could be reached there.
    OneShot<> settled() const { return m_settled; }

    // Sends a request with a fresh "id". Throws VPNError: ConnectionFailed when no
    // provider is connected (nothing is tried here), ConfigurationInvalid when the line
    // would exceed the cap. The handler then runs exactly once, later; with a bound, it
    // gets none when no reply came within it.
    void send(QJsonObject request, ReplyHandler handler, std::optional<std::chrono::milliseconds> bound = std::nullopt);

Q_SIGNALS:
    // Delivered from the event loop on every real change of status().
    void statusChanged(kovra::vpn::Status status);
    // Delivered from the event loop after each connection is made, before anything the
    // provider sent on it.
    void connected();

private:
    struct Pending {
        ReplyHandler handler;
        std::unique_ptr<ClockTimer> bound;
    };
    // One thing to report, in arrival order: a status (settling the attempt), a reply,
    // or a connection made.
    struct Delivery {
        std::optional<VPNStatus> status;
        quint64 attempt = 0; // the connection attempt a status belongs to
        ReplyHandler handler;
        std::optional<tunnelwire::ReplyLine> reply;
        bool linkUp = false;
    };

    void attempt();
    void failAttempt();
    void scheduleRetry(std::chrono::milliseconds delay);
    void onConnected();
    void onUnconnected();
    void readAvailable();
    void handleLine(const QByteArray &line);
    void reportStatus(VPNStatus status);
    void post(Delivery delivery);
    void deliverNext();
    void expire(qint64 id);

    QString m_path;
    std::chrono::milliseconds m_retryInterval;
    std::chrono::milliseconds m_maxRetryInterval;
    std::shared_ptr<Clock> m_clock;
    Logger m_log{QStringLiteral("TunnelSession")};
    QLocalSocket *m_socket;
    QFileSystemWatcher m_watcher;
    tunnelwire::LineReader m_reader;
    std::unique_ptr<ClockTimer> m_retry;
    int m_failures = 0;
    quint64 m_attempt = 0;
    QString m_refusal;
    bool m_connecting = false;
    bool m_connected = false;
    VPNStatus m_status = VPNStatus::Disconnected;
    OneShot<> m_settled;
    qint64 m_nextID = 1;
    std::map<qint64, Pending> m_pending;
    std::deque<Delivery> m_outbox;
};

} // namespace kovra
