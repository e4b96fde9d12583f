#include "platform/ProviderSocketClient.h"

#include "platform/VPNError.h"

#include <QFileInfo>
#include <QLocalSocket>

namespace kovra {

ProviderSocketClient::ProviderSocketClient(QString socketPath, std::chrono::milliseconds retryInterval,
                                           std::chrono::milliseconds maxRetryInterval, std::shared_ptr<Clock> clock,
                                           QObject *parent)
    : QObject(parent), m_path(std::move(socketPath)), m_retryInterval(retryInterval),
      m_maxRetryInterval(maxRetryInterval), m_clock(clock ? std::move(clock) : Clock::system()),
      m_socket(new QLocalSocket(this))
{
    connect(m_socket, &QLocalSocket::connected, this, &ProviderSocketClient::onConnected);
    connect(m_socket, &QLocalSocket::readyRead, this, &ProviderSocketClient::readAvailable);
    connect(m_socket, &QLocalSocket::stateChanged, this, [this](QLocalSocket::LocalSocketState state) {
        if (state == QLocalSocket::UnconnectedState)
            onUnconnected();
    });
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        // The provider may have just made its socket: try now, and soon again if it
        // was not listening yet.
        if (!m_connected && !m_connecting) {
            m_failures = 0;
            attempt();
        }
    });
}

ProviderSocketClient::~ProviderSocketClient()
{
    disconnect(m_socket, nullptr, this, nullptr);
    m_socket->abort();
    m_retry.reset();
    std::deque<Delivery> undelivered = std::exchange(m_outbox, {});
    std::map<qint64, Pending> pending = std::exchange(m_pending, {});
    OneShot<> settled = m_settled;
    settled.resolve();
    for (auto &d : undelivered) {
        if (d.handler)
            d.handler(std::nullopt);
    }
    for (auto &[id, p] : pending) {
        if (p.handler)
            p.handler(std::nullopt);
    }
}

void ProviderSocketClient::start()
{
    QMetaObject::invokeMethod(this, [this] { attempt(); }, Qt::QueuedConnection);
}

OneShot<> ProviderSocketClient::connectNow()
{
    if (!m_connected && !m_connecting)
        attempt();
    return m_settled;
}

void ProviderSocketClient::attempt()
{
    if (m_connected || m_connecting)
        return;
    m_retry.reset();
    ++m_attempt;
    if (m_settled.isDone())
        m_settled = OneShot<>();
    const QString path = m_path;
    if (const auto problem = tunnelwire::prepareSocketDirectory(path)) {
        // Said once per reason, not on every retry.
        if (*problem != m_refusal)
            m_log.error(QStringLiteral("refused the tunnel provider socket %1: %2").arg(path, *problem));
        m_refusal = *problem;
        failAttempt();
        return;
    }
    m_refusal.clear();
    const QString folder = QFileInfo(path).absolutePath();
    if (!m_watcher.directories().contains(folder))
        m_watcher.addPath(folder);
    m_connecting = true;
    // The outcome arrives through the socket's signals, possibly inside this call; the
    // handlers only post what they report.
    m_socket->connectToServer(path);
}

void ProviderSocketClient::scheduleRetry(std::chrono::milliseconds delay)
{
    delay = std::min(delay, m_maxRetryInterval);
    m_log.debug(QStringLiteral("no tunnel provider at %1; next try in %2 ms").arg(m_path).arg(delay.count()));
    m_retry = m_clock->startTimer(delay, [this] { attempt(); });
}

void ProviderSocketClient::onConnected()
{
    m_connecting = false;
    m_connected = true;
    m_failures = 0;
    m_reader.reset();
    m_log.info(QStringLiteral("connected to the tunnel provider"));
    post({std::nullopt, 0, {}, std::nullopt, true});
    // The provider reports its status right away; until then it reads as disconnected
    // and the attempt is not settled.
}

void ProviderSocketClient::onUnconnected()
{
    if (m_connected) {
        readAvailable(); // a reply written just before the provider closed still counts
        m_connected = false;
        m_reader.reset();
        m_log.notice(QStringLiteral("lost the connection to the tunnel provider"));
        for (auto &[id, p] : std::exchange(m_pending, {}))
            post({std::nullopt, 0, std::move(p.handler), std::nullopt});
        reportStatus(VPNStatus::Disconnected);
        m_failures = 0;
        scheduleRetry(m_retryInterval);
        return;
    }
    if (!m_connecting)
        return;
    m_connecting = false;
    failAttempt();
}

void ProviderSocketClient::failAttempt()
{
    // Nobody there: that settles the status, and the wait doubles with each failure.
    reportStatus(VPNStatus::Disconnected);
    scheduleRetry(m_retryInterval * (qint64(1) << std::min(m_failures++, 16)));
}

void ProviderSocketClient::readAvailable()
{
    if (!m_socket->bytesAvailable())
        return;
    const auto result = m_reader.feed(m_socket->readAll());
    for (int i = 0; i < result.oversized; ++i)
        m_log.error(QStringLiteral("dropped a line over %1 bytes from the tunnel provider").arg(tunnelwire::kMaxLineBytes));
    for (const auto &line : result.lines)
        handleLine(line);
}

void ProviderSocketClient::handleLine(const QByteArray &line)
{
    const tunnelwire::ProviderLine parsed = tunnelwire::parseProviderLine(line);
    if (const auto *dropped = std::get_if<tunnelwire::DroppedLine>(&parsed)) {
        m_log.error(dropped->reason);
    } else if (const auto *event = std::get_if<tunnelwire::StatusEvent>(&parsed)) {
        reportStatus(event->status);
    } else if (const auto *reply = std::get_if<tunnelwire::ReplyLine>(&parsed)) {
        const auto it = m_pending.find(reply->id);
        if (it == m_pending.end()) {
            m_log.debug(QStringLiteral("ignored a reply to unknown request %1").arg(reply->id));
            return;
        }
        ReplyHandler handler = std::move(it->second.handler);
        m_pending.erase(it);
        post({std::nullopt, 0, std::move(handler), *reply});
    }
}

void ProviderSocketClient::reportStatus(VPNStatus status)
{
    post({status, m_attempt, {}, std::nullopt});
}

void ProviderSocketClient::post(Delivery delivery)
{
    m_outbox.push_back(std::move(delivery));
    QMetaObject::invokeMethod(this, [this] { deliverNext(); }, Qt::QueuedConnection);
}

void ProviderSocketClient::deliverNext()
{
    if (m_outbox.empty())
        return;
    Delivery d = std::move(m_outbox.front());
    m_outbox.pop_front();
    if (d.handler) {
        d.handler(std::move(d.reply)); // may destroy this client
        return;
    }
    if (d.linkUp) {
        Q_EMIT connected(); // may destroy this client
        return;
    }
    const OneShot<> settled = m_settled;
    const bool settles = d.attempt == m_attempt;
    if (d.status && *d.status != m_status) {
        m_status = *d.status;
        Q_EMIT statusChanged(m_status); // may destroy this client
    }
    if (settles)
        OneShot<>(settled).resolve();
}

void ProviderSocketClient::send(QJsonObject request, ReplyHandler handler, std::optional<std::chrono::milliseconds> bound)
{
    if (!m_connected)
        throw VPNError(VPNError::ConnectionFailed, QStringLiteral("the tunnel provider is not running"));
    const qint64 id = m_nextID++;
    request.insert(QStringLiteral("id"), double(id));
    const QByteArray line = tunnelwire::encode(request);
    if (line.size() > tunnelwire::kMaxLineBytes)
        throw VPNError(VPNError::ConfigurationInvalid,
                       QStringLiteral("request over %1 bytes").arg(tunnelwire::kMaxLineBytes));
    Pending pending{std::move(handler), nullptr};
    if (bound) {
        const QString method = request.value(QStringLiteral("method")).toString();
        pending.bound = m_clock->startTimer(*bound, [this, id, bound, method] {
            m_log.error(QStringLiteral("provider %1 got no reply within %2 ms").arg(method).arg(bound->count()));
            expire(id);
        });
    }
    m_pending.emplace(id, std::move(pending));
    m_socket->write(line);
}

void ProviderSocketClient::expire(qint64 id)
{
    const auto it = m_pending.find(id);
    if (it == m_pending.end())
        return;
    ReplyHandler handler = std::move(it->second.handler);
    m_pending.erase(it); // destroys the firing timer, which allows it
    post({std::nullopt, 0, std::move(handler), std::nullopt});
}

} // namespace kovra
