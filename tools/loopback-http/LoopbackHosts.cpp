#include "loopback-http/LoopbackHosts.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace kovra::loopback {

namespace {

QByteArray methodText(QHttpServerRequest::Method method)
{
    return QByteArray(QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method))).toUpper();
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 413: return "Payload Too Large";
    case 422: return "Unprocessable Entity";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

constexpr qint64 kPiece = 64 * 1024;
// What a stream keeps queued on the socket at most.
constexpr qint64 kMaxQueued = 1024 * 1024;

// Readable filler for streamed bodies, one piece long.
const QByteArray &filler()
{
    static const QByteArray bytes = [] {
        const QByteArray pattern("0123456789abcdefghijklmnopqrstuvwxyz\n");
        QByteArray out;
        while (out.size() < kPiece)
            out += pattern;
        return out.left(kPiece);
    }();
    return bytes;
}

constexpr char kLastChunk[] = "0\r\n\r\n";

} // namespace

QByteArray Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value.isNull() ? QByteArray("") : value;
    }
    return {};
}

QByteArray RawResponse::head(qint64 contentLength) const
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    bool hasContentType = false;
    for (const auto &[key, value] : headers) {
        hasContentType = hasContentType || key.compare("Content-Type", Qt::CaseInsensitive) == 0;
        out += key + ": " + value + "\r\n";
    }
    if (!hasContentType && !contentType.isEmpty())
        out += "Content-Type: " + contentType + "\r\n";
    if (chunked)
        out += "Transfer-Encoding: chunked\r\n";
    else if (announceLength)
        out += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    else
        out += "Connection: close\r\n";
    return out + "\r\n";
}

QByteArray RawResponse::framed(const QByteArray &piece) const
{
    if (!chunked || piece.isEmpty())
        return piece;
    return QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
}

QByteArray RawResponse::bytes() const
{
    QByteArray out = head(body.size()) + framed(body);
    if (chunked)
        out += kLastChunk;
    return out;
}

Exchange::Exchange(std::unique_ptr<QHttpServerResponder> responder, QObject *parent)
    : QObject(parent), m_responder(std::move(responder)), m_socket(m_responder->socket())
{
    if (m_socket) {
        m_closeWatch = connect(m_socket, &QTcpSocket::disconnected, this, [this] {
            if (m_done)
                return;
            Q_EMIT clientClosed();
            finish();
        });
    }
}

Exchange::~Exchange()
{
    QObject::disconnect(m_closeWatch);
}

bool Exchange::isOpen() const
{
    return !m_done && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void Exchange::respond(const RawResponse &response)
{
    if (isOpen()) {
        m_socket->write(response.bytes());
        if (!response.announceLength && !response.chunked)
            m_socket->disconnectFromHost();
    }
    finish();
}

void Exchange::stream(const RawResponse &response, qint64 length, qint64 sendUpTo)
{
    if (!isOpen()) {
        finish();
        return;
    }
    m_streamed = response;
    m_streamed.body.clear();
    m_length = std::max<qint64>(length, 0);
    m_sendUpTo = std::clamp<qint64>(sendUpTo, 0, m_length);
    m_socket->write(m_streamed.head(m_length));
    m_drainWatch = connect(m_socket, &QIODevice::bytesWritten, this, &Exchange::pump);
    pump();
}

void Exchange::pump()
{
    if (!isOpen())
        return;
    while (m_sent < m_sendUpTo && m_socket->bytesToWrite() < kMaxQueued) {
        const qint64 n = std::min(kPiece, m_sendUpTo - m_sent);
        m_socket->write(m_streamed.framed(filler().first(n)));
        m_sent += n;
    }
    if (m_sent < m_sendUpTo)
        return;
    QObject::disconnect(m_drainWatch);
    if (m_sent < m_length) {
        close(); // the queued bytes still go out before the connection closes
    } else if (m_streamed.chunked) {
        m_socket->write(kLastChunk);
        finish();
    } else if (!m_streamed.announceLength) {
        close();
    } else {
        finish();
    }
}

void Exchange::writeAndBreakOff(const QByteArray &bytes, BreakOff breakOff)
{
    if (!isOpen()) {
        finish();
        return;
    }
    m_socket->write(bytes);
    if (breakOff.after.count() > 0)
        after(breakOff.after, [this, how = breakOff.how] { cut(how); });
    else
        cut(breakOff.how);
}

void Exchange::cut(BreakOff::How how)
{
    if (!isOpen())
        return;
    if (how == BreakOff::How::Close) {
        close(); // the queued bytes still go out before the connection closes
        return;
    }
    // A reset drops what is still queued: first the socket hands it all on.
    if (m_socket->bytesToWrite() > 0) {
        m_drainWatch = connect(m_socket, &QIODevice::bytesWritten, this, [this] {
            if (m_socket->bytesToWrite() == 0) {
                QObject::disconnect(m_drainWatch);
                cut(BreakOff::How::Reset);
            }
        });
        return;
    }
    const linger reset{1, 0};
    ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    QObject::disconnect(m_closeWatch);
    m_socket->abort();
    finish();
}

void Exchange::after(std::chrono::milliseconds delay, std::function<void()> f)
{
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, timer, f = std::move(f)] {
        timer->deleteLater();
        if (!m_done)
            f();
    });
    timer->start(delay);
}

void Exchange::close()
{
    QObject::disconnect(m_closeWatch);
    if (isOpen())
        m_socket->disconnectFromHost();
    finish();
}

void Exchange::finish()
{
    if (m_done)
        return;
    m_done = true;
    QObject::disconnect(m_closeWatch);
    QObject::disconnect(m_drainWatch);
    // Often called from the socket's own signal or a timer of the caller: released later.
    deleteLater();
}

LoopbackHosts::LoopbackHosts(Handler handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler))
{
}

LoopbackHosts::~LoopbackHosts()
{
    // Responders refer to the servers' sockets: they go first.
    const auto exchanges = findChildren<Exchange *>(Qt::FindDirectChildrenOnly);
    for (Exchange *exchange : exchanges)
        delete exchange;
    m_servers.clear();
}

bool LoopbackHosts::listen(const LoopbackHostsOptions &options, QString *error)
{
    m_prefix = options.prefix;
    for (int host = 0; host < options.count; ++host) {
        const quint16 wanted = host < options.ports.size() ? options.ports.at(host) : 0;
        if (options.down.contains(host)) {
            m_ports.append(wanted != 0 ? wanted : closedPort());
            continue;
        }
        auto server = std::make_unique<QHttpServer>();
        server->setMissingHandler([this, host](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            receive(host, request, std::move(responder));
        });
        const quint16 port = server->listen(QHostAddress::LocalHost, wanted);
        if (port == 0) {
            if (error)
                *error = QStringLiteral("cannot listen on 127.0.0.1:%1").arg(wanted);
            return false;
        }
        m_ports.append(port);
        m_servers.push_back(std::move(server));
    }
    return true;
}

void LoopbackHosts::receive(int host, const QHttpServerRequest &request, QHttpServerResponder &&responder)
{
    Request received;
    received.host = host;
    received.method = methodText(request.method());
    received.url = request.url();
    received.path = request.url().path();
    if (received.path == m_prefix || received.path.startsWith(m_prefix + u'/')) {
        received.underPrefix = true;
        received.path = received.path.mid(m_prefix.size());
    }
    received.headers = request.headers();
    received.body = request.body();
    auto *exchange = new Exchange(std::make_unique<QHttpServerResponder>(std::move(responder)), this);
    m_handler(received, exchange);
}

QList<QUrl> LoopbackHosts::baseURLs() const
{
    QList<QUrl> urls;
    for (quint16 port : m_ports)
        urls.append(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(m_prefix)));
    return urls;
}

QByteArray LoopbackHosts::baseURLsText() const
{
    QStringList texts;
    for (const QUrl &url : baseURLs())
        texts.append(url.toString());
    return texts.join(u',').toUtf8();
}

quint16 LoopbackHosts::closedPort()
{
    // Taken from the system and given back at once.
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void LoopbackHosts::abortAll()
{
    const auto exchanges = findChildren<Exchange *>(Qt::FindDirectChildrenOnly);
    for (Exchange *exchange : exchanges) {
        if (exchange->m_done)
            continue;
        QObject::disconnect(exchange->m_closeWatch);
        if (exchange->m_socket)
            exchange->m_socket->abort();
        exchange->finish();
    }
}

} // namespace kovra::loopback
