#include "support/FakeService.h"

#include <QTest>

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

FakeReply FakeReply::broken(QByteArray raw, loopback::BreakOff breakOff)
{
    FakeReply reply;
    reply.action = Action::Broken;
    reply.body = std::move(raw);
    reply.breakOff = breakOff;
    return reply;
}

namespace {

// Writes the byte of `body` at `next` after `pace`, and so on to its end.
void trickleFrom(loopback::Exchange *exchange, QByteArray body, qsizetype next, std::chrono::milliseconds pace)
{
    exchange->after(pace, [exchange, body, next, pace] {
        if (!exchange->isOpen())
            return;
        exchange->socket()->write(body.mid(next, 1));
        if (next + 1 < body.size())
            trickleFrom(exchange, body, next + 1, pace);
        else
            exchange->finish();
    });
}

QString scriptKey(int host, const QByteArray &method, const QString &path)
{
    return QString::number(host) + u'|' + QString::fromLatin1(method.toUpper()) + u'|' + path;
}

} // namespace

FakeService::FakeService(int hostCount, QObject *parent)
    : QObject(parent)
{
    m_clock.start();
    m_hosts = std::make_unique<loopback::LoopbackHosts>(
        [this](const loopback::Request &request, loopback::Exchange *exchange) { receive(request, exchange); });
    loopback::LoopbackHostsOptions options;
    options.count = hostCount;
    m_hosts->listen(options);
}

FakeService::~FakeService()
{
    // Its handler and signals refer to this object's records.
    m_hosts.reset();
}

void FakeService::receive(const loopback::Request &request, loopback::Exchange *exchange)
{
    RecordedRequest record;
    static_cast<loopback::Request &>(record) = request;
    record.atMs = m_clock.elapsed();
    m_requests.append(record);
    const int index = int(m_requests.size()) - 1;
    connect(exchange, &loopback::Exchange::clientClosed, this, [this, index] {
        if (index < m_requests.size())
            m_requests[index].closedEarly = true;
    });

    const FakeReply reply = nextReply(request.host, record.method, record.path);
    if (reply.action == FakeReply::Action::NeverAnswer)
        return;
    exchange->after(reply.delay, [exchange, reply] {
        if (reply.action == FakeReply::Action::Close) {
            exchange->close();
            return;
        }
        if (reply.action == FakeReply::Action::Broken) {
            exchange->writeAndBreakOff(reply.body, reply.breakOff);
            return;
        }
        loopback::RawResponse response;
        response.status = reply.status;
        response.headers = reply.headers;
        response.body = reply.body;
        response.announceLength = reply.announceLength;
        response.chunked = reply.chunked;
        if (reply.trickle > std::chrono::milliseconds(0) && !reply.body.isEmpty() && exchange->isOpen()) {
            exchange->socket()->write(response.head(reply.body.size()));
            trickleFrom(exchange, reply.body, 0, reply.trickle);
        } else if (reply.streamedBytes > 0) {
            exchange->stream(response, reply.streamedBytes);
        } else {
            exchange->respond(response);
        }
    });
}

void FakeService::reset()
{
    m_hosts->abortAll();
    m_scripts.clear();
    m_requests.clear();
}

QList<QUrl> FakeService::baseURLs() const
{
    return m_hosts->baseURLs();
}

QUrl FakeService::closedPortURL(const QString &path)
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(loopback::LoopbackHosts::closedPort()).arg(path));
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
