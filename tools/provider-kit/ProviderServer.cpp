#include "provider-kit/ProviderServer.h"

#include "platform/Log.h"
#include "platform/TunnelWire.h"

#include <QFile>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QPointer>


namespace kovra::provider {
namespace {
const Logger &log()
{
    static const Logger logger(QStringLiteral("Provider"));
    return logger;
}
} // namespace

struct ProviderServer::Client {
    tunnelwire::LineReader reader;
};

ProviderServer::Reply ProviderServer::Reply::json(const QJsonObject &object, std::chrono::milliseconds delay)
{
    return withData(QJsonDocument(object).toJson(QJsonDocument::Compact), delay);
}

ProviderServer::ProviderServer(QString socketPath, QObject *parent)
    : QObject(parent), m_path(std::move(socketPath)),
      m_startSteps{{2, {}}, {3, std::chrono::milliseconds(300)}}, m_stopSteps{{5, {}}, {1, {}}}
{
    connect(&m_server, &QLocalServer::newConnection, this, &ProviderServer::accept);
}

ProviderServer::~ProviderServer()
{
    kill();
}

bool ProviderServer::listen()
{
    if (m_server.isListening())
        return true;
    if (const auto problem = tunnelwire::prepareSocketDirectory(m_path)) {
        log().error(QStringLiteral("cannot listen on %1: %2").arg(m_path, *problem));
        return false;
    }
    QLocalServer::removeServer(m_path);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_path)) {
        log().error(QStringLiteral("cannot listen on %1: %2").arg(m_path, m_server.errorString()));
        return false;
    }
    return true;
}

void ProviderServer::kill()
{
    qDeleteAll(std::exchange(m_stepTimers, {}));
    m_server.close();
    QFile::remove(m_path);
    dropClients();
}

void ProviderServer::dropClients()
{
    const auto clients = std::exchange(m_clients, {});
    for (auto it = clients.begin(); it != clients.end(); ++it) {
        it.key()->disconnect(this);
        it.key()->abort();
        it.key()->deleteLater();
        delete it.value();
    }
}

void ProviderServer::setStatus(int status)
{
    if (status == m_status)
        return;
    m_status = status;
    const QByteArray line = tunnelwire::encode(
        {{QStringLiteral("event"), QLatin1String(tunnelwire::kEventStatus)}, {QStringLiteral("status"), status}});
    for (auto *socket : m_clients.keys())
        socket->write(line);
    Q_EMIT statusChanged(status);
}

void ProviderServer::setMessageReply(const QString &op, Reply reply)
{
    setMessageHandler(op, [reply](const Request &) { return reply; });
}

QList<ProviderServer::Request> ProviderServer::requests(const QString &method) const
{
    QList<Request> matching;
    for (const auto &r : m_requests) {
        if (r.method == method)
            matching.append(r);
    }
    return matching;
}

void ProviderServer::sendRaw(const QByteArray &bytes)
{
    for (auto *socket : m_clients.keys())
        socket->write(bytes);
}

void ProviderServer::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        m_clients.insert(socket, new Client);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            delete m_clients.take(socket);
            socket->deleteLater();
        });
        socket->write(tunnelwire::encode(
            {{QStringLiteral("event"), QLatin1String(tunnelwire::kEventStatus)}, {QStringLiteral("status"), m_status}}));
        Q_EMIT clientConnected();
    }
}

void ProviderServer::readFrom(QLocalSocket *socket)
{
    Client *client = m_clients.value(socket);
    if (!client)
        return;
    const auto result = client->reader.feed(socket->readAll());
    if (result.oversized)
        log().error(QStringLiteral("dropped %1 oversized request line(s)").arg(result.oversized));
    QPointer<QLocalSocket> guard(socket);
    for (const auto &line : result.lines) {
        if (!guard || !m_clients.contains(socket))
            return; // a reply script dropped the client
        handle(socket, line);
    }
}

void ProviderServer::reply(QLocalSocket *socket, qint64 id, QJsonObject fields)
{
    fields.insert(QStringLiteral("id"), double(id));
    if (!fields.contains(QStringLiteral("ok")))
        fields.insert(QStringLiteral("ok"), true);
    socket->write(tunnelwire::encode(fields));
}

namespace {
QJsonObject errorFields(const ProviderServer::ErrorReply &e)
{
    return {{QStringLiteral("ok"), false},
            {QStringLiteral("error"), QJsonObject{{QStringLiteral("domain"), e.domain},
                                                 {QStringLiteral("code"), e.code},
                                                 {QStringLiteral("message"), e.message}}}};
}
} // namespace

void ProviderServer::handle(QLocalSocket *socket, const QByteArray &line)
{
    const auto object = tunnelwire::decode(line);
    const auto id = object ? tunnelwire::exactInteger(object->value(QStringLiteral("id"))) : std::nullopt;
    if (!id) {
        log().error(QStringLiteral("dropped a malformed request line (%1 bytes)").arg(line.size()));
        return;
    }
    Request request;
    request.id = *id;
    request.method = object->value(QStringLiteral("method")).toString();
    request.object = *object;
    if (request.method == QLatin1String(tunnelwire::kMethodMessage)) {
        const auto data = QByteArray::fromBase64Encoding(object->value(QStringLiteral("data")).toString().toLatin1(),
                                                         QByteArray::AbortOnBase64DecodingErrors);
        if (data)
            request.message = tunnelwire::decode(*data).value_or(QJsonObject());
    }
    m_requests.append(request);
    Q_EMIT requestReceived(request);

    if (request.method == QLatin1String(tunnelwire::kMethodStart)) {
        answer(socket, request.id, m_startReply, {}, [this] { runSteps(m_startSteps); });
    } else if (request.method == QLatin1String(tunnelwire::kMethodStop)) {
        answer(socket, request.id, m_stopReply, {}, [this] { stopTunnel(); });
    } else if (request.method == QLatin1String(tunnelwire::kMethodGetStatus)) {
        reply(socket, request.id, {{QStringLiteral("status"), m_status}});
    } else if (request.method == QLatin1String(tunnelwire::kMethodMessage)) {
        answerMessage(socket, request);
    } else {
        reply(socket, request.id, errorFields({QStringLiteral("VPNErrorDomain"), 1, QStringLiteral("unknown method")}));
    }
}

void ProviderServer::answerMessage(QLocalSocket *socket, const Request &request)
{
    const auto handler = m_handlers.value(request.op());
    const Reply script = handler ? handler(request) : Reply::noData();
    const QJsonValue data = script.kind == Reply::Data ? QJsonValue(QString::fromLatin1(script.data.toBase64()))
                                                       : QJsonValue(QJsonValue::Null);
    answer(socket, request.id, script, {{QStringLiteral("data"), data}});
}

void ProviderServer::answer(QLocalSocket *socket, qint64 id, const Reply &script, QJsonObject accepted,
                            std::function<void()> onAccepted)
{
    if (script.kind == Reply::Silence)
        return;
    QPointer<QLocalSocket> target(socket);
    const auto deliver = [this, target, id, script, accepted, onAccepted] {
        if (script.kind == Reply::Disconnect) {
            dropClients();
            return;
        }
        if (!target || !m_clients.contains(target))
            return;
        if (script.kind == Reply::Failure) {
            reply(target, id, errorFields(script.error));
            return;
        }
        reply(target, id, accepted);
        if (onAccepted)
            onAccepted();
    };
    if (script.delay.count() > 0)
        QTimer::singleShot(script.delay, this, deliver);
    else
        deliver();
}

bool ProviderServer::startTunnel()
{
    if (m_startReply.kind == Reply::Failure)
        return false;
    runSteps(m_startSteps);
    return true;
}

void ProviderServer::runSteps(const QList<Step> &steps)
{
    // A new request's steps replace whatever the previous one had not done yet.
    qDeleteAll(std::exchange(m_stepTimers, {}));
    std::chrono::milliseconds at{0};
    for (const auto &step : steps) {
        at += step.after;
        if (at.count() == 0) {
            setStatus(step.status);
            continue;
        }
        auto *timer = new QTimer(this);
        timer->setSingleShot(true);
        timer->setInterval(at);
        const int status = step.status;
        connect(timer, &QTimer::timeout, this, [this, status] { setStatus(status); });
        timer->start();
        m_stepTimers.append(timer);
    }
}

} // namespace kovra::provider
