#include "support/FakeService.h"

#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QMetaEnum>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

namespace kovra::test {

FakeReply FakeReply::json(int status, QByteArray body, std::chrono::milliseconds delay)
{
    FakeReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.delay = delay;
    return reply;
}

FakeReply FakeReply::silent()
{
    FakeReply reply;
    reply.action = Action::NeverAnswer;
    return reply;
}

FakeReply FakeReply::close(std::chrono::milliseconds delay)
{
    FakeReply reply;
    reply.action = Action::Close;
    reply.delay = delay;
    return reply;
}

FakeReply FakeReply::streamed(int status, qint64 bytes, bool chunked)
{
    FakeReply reply;
    reply.status = status;
    reply.streamedBytes = bytes;
    reply.chunked = chunked;
    reply.announceLength = !chunked;
    return reply;
}

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value.isNull() ? QByteArray("") : value;
    }
    return {};
}

// A request whose answer has not been written yet.
struct FakeService::Pending {
    int index = 0;
    FakeReply reply;
    std::unique_ptr<QHttpServerResponder> responder;
    QPointer<QTcpSocket> socket;
    QTimer timer;
    QMetaObject::Connection closeWatch;
    QMetaObject::Connection drainWatch;
    qint64 unsent = 0; // streamed bytes still to write
    bool done = false;
};

namespace {

QByteArray methodText(QHttpServerRequest::Method method)
{
    return QByteArray(QMetaEnum::fromType<QHttpServerRequest::Method>().valueToKey(int(method))).toUpper();
}

QString scriptKey(int host, const QByteArray &method, const QString &path)
{
    return QString::number(host) + u'|' + QString::fromLatin1(method.toUpper()) + u'|' + path;
}

// Written by hand rather than through the responder, which only knows the registered
// status codes; tests need any code (199, 299, 6xx).
QByteArray responseHead(const FakeReply &reply)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " Scripted\r\n";
    bool hasContentType = false;
    for (const auto &[key, value] : reply.headers) {
        hasContentType = hasContentType || key.compare("Content-Type", Qt::CaseInsensitive) == 0;
        out += key + ": " + value + "\r\n";
    }
    if (!hasContentType)
        out += "Content-Type: application/json\r\n";
    const qint64 length = reply.streamedBytes > 0 ? reply.streamedBytes : reply.body.size();
    if (reply.chunked)
        out += "Transfer-Encoding: chunked\r\n";
    else if (reply.announceLength)
        out += "Content-Length: " + QByteArray::number(length) + "\r\n";
    else
        out += "Connection: close\r\n";
    return out + "\r\n";
}

QByteArray framed(const FakeReply &reply, const QByteArray &piece)
{
    if (!reply.chunked || piece.isEmpty())
        return piece;
    return QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
}

constexpr qint64 kStreamPiece = 64 * 1024;

} // namespace

FakeService::FakeService(int hostCount, QObject *parent)
    : QObject(parent)
{
    m_clock.start();
    for (int host = 0; host < hostCount; ++host) {
        auto server = std::make_unique<QHttpServer>();
        server->setMissingHandler([this, host](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            RecordedRequest record;
            record.host = host;
            record.method = methodText(request.method());
            record.url = request.url();
            record.path = request.url().path();
            if (record.path.startsWith(m_prefix))
                record.path = record.path.mid(m_prefix.size());
            record.headers = request.headers();
            record.body = request.body();
            record.atMs = m_clock.elapsed();
            m_requests.append(record);

            auto pending = std::make_unique<Pending>();
            Pending *p = pending.get();
            p->index = int(m_requests.size()) - 1;
            p->reply = nextReply(host, record.method, record.path);
            p->socket = responder.socket();
            p->responder = std::make_unique<QHttpServerResponder>(std::move(responder));
            p->closeWatch = connect(p->socket, &QTcpSocket::disconnected, this, [this, p] {
                m_requests[p->index].closedEarly = true;
                finish(p);
            });
            if (p->reply.action != FakeReply::Action::NeverAnswer) {
                p->timer.setSingleShot(true);
                p->timer.setTimerType(Qt::PreciseTimer);
                connect(&p->timer, &QTimer::timeout, this, [this, p] {
                    if (p->socket && p->socket->state() == QAbstractSocket::ConnectedState) {
                        if (p->reply.action == FakeReply::Action::Answer) {
                            if (writeAnswer(p))
                                return; // still streaming
                        } else {
                            QObject::disconnect(p->closeWatch);
                            p->socket->disconnectFromHost();
                        }
                    }
                    finish(p);
                });
                p->timer.start(p->reply.delay);
            }
            m_pending.push_back(std::move(pending));
        });
        m_ports.append(server->listen(QHostAddress::LocalHost, 0));
        m_hosts.push_back(std::move(server));
    }
}

FakeService::~FakeService()
{
    for (const auto &p : m_pending) {
        QObject::disconnect(p->closeWatch);
        QObject::disconnect(p->drainWatch);
    }
    m_pending.clear();
    m_hosts.clear();
}

void FakeService::reset()
{
    for (const auto &p : m_pending) {
        QObject::disconnect(p->closeWatch);
        QObject::disconnect(p->drainWatch);
        p->timer.stop();
        p->done = true;
        if (p->socket)
            p->socket->abort();
    }
    m_pending.clear();
    m_scripts.clear();
    m_requests.clear();
}

bool FakeService::writeAnswer(Pending *p)
{
    const FakeReply &reply = p->reply;
    p->socket->write(responseHead(reply));
    if (reply.streamedBytes <= 0) {
        p->socket->write(framed(reply, reply.body));
        if (reply.chunked)
            p->socket->write("0\r\n\r\n");
        if (!reply.announceLength && !reply.chunked)
            p->socket->disconnectFromHost();
        return false;
    }
    p->unsent = reply.streamedBytes;
    // Keeps about a megabyte queued, so the body never sits in memory as a whole.
    const auto pump = [this, p] {
        while (p->unsent > 0 && p->socket && p->socket->bytesToWrite() < 1024 * 1024) {
            const qint64 n = std::min(kStreamPiece, p->unsent);
            p->socket->write(framed(p->reply, QByteArray(n, 'x')));
            p->unsent -= n;
        }
        if (p->unsent > 0 || !p->socket)
            return;
        QObject::disconnect(p->drainWatch);
        if (p->reply.chunked)
            p->socket->write("0\r\n\r\n");
        else if (!p->reply.announceLength)
            p->socket->disconnectFromHost();
        finish(p);
    };
    p->drainWatch = connect(p->socket, &QTcpSocket::bytesWritten, this, pump);
    pump();
    return p->unsent > 0;
}

void FakeService::finish(Pending *pending)
{
    if (pending->done)
        return;
    pending->done = true;
    pending->timer.stop();
    QObject::disconnect(pending->closeWatch);
    QObject::disconnect(pending->drainWatch);
    // Called from the pending's own timer or its socket's signal: release it later.
    QMetaObject::invokeMethod(
        this,
        [this] {
            std::erase_if(m_pending, [](const std::unique_ptr<Pending> &p) { return p->done; });
        },
        Qt::QueuedConnection);
}

QUrl FakeService::closedPortURL(const QString &path)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
}

QList<QUrl> FakeService::baseURLs() const
{
    QList<QUrl> urls;
    for (quint16 port : m_ports)
        urls.append(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(m_prefix)));
    return urls;
}

void FakeService::script(int host, const QByteArray &method, const QString &path, QList<FakeReply> replies)
{
    m_scripts.insert(scriptKey(host, method, path), Script{std::move(replies), 0});
}

FakeReply FakeService::nextReply(int host, const QByteArray &method, const QString &path)
{
    auto it = m_scripts.find(scriptKey(host, method, path));
    if (it == m_scripts.end())
        it = m_scripts.find(scriptKey(anyHost, method, path));
    if (it == m_scripts.end() || it->replies.isEmpty())
        return FakeReply::json(404);
    const int index = std::min(it->next, int(it->replies.size()) - 1);
    ++it->next;
    return it->replies.at(index);
}

bool FakeService::waitForRequests(int count, std::chrono::milliseconds timeout) const
{
    return QTest::qWaitFor([&] { return m_requests.size() >= count; }, int(timeout.count()));
}

bool FakeService::waitForClosedEarly(int count, std::chrono::milliseconds timeout) const
{
    return QTest::qWaitFor(
        [&] { return std::count_if(m_requests.begin(), m_requests.end(), [](const auto &r) { return r.closedEarly; }) >= count; },
        int(timeout.count()));
}

} // namespace kovra::test
