#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include "loopback-http/LoopbackHosts.h"

#include <chrono>
#include <memory>
#include <vector>

namespace kovra::test {

// One scripted answer of the fake service.
struct FakeReply {
    enum class Action {
        Answer,      // write the status, headers and body after the delay
        NeverAnswer, // keep the connection open and say nothing
        Close,       // close the connection after the delay without answering
        Broken,      // write `body` as it is after the delay, then cut the connection
    };

    Action action = Action::Answer;
    int status = 200;
    QByteArray body;
    std::chrono::milliseconds delay{0};
    QList<QPair<QByteArray, QByteArray>> headers;
    // Without a Content-Length the body ends when the connection closes (or with the
    // last chunk when chunked).
    bool announceLength = true;
    bool chunked = false;
    // When above 0, the body is this many filler bytes instead of `body`, written as
    // the connection drains (the service never holds them all).
    qint64 streamedBytes = 0;
    // When above 0, the head (announcing the length) goes out at once and then `body`
    // one byte every `trickle`.
    std::chrono::milliseconds trickle{0};
    // How a Broken reply cuts the connection off.
    loopback::BreakOff breakOff;

    static FakeReply json(int status, QByteArray body = {}, std::chrono::milliseconds delay = {});
    static FakeReply silent();
    static FakeReply close(std::chrono::milliseconds delay = {});
    // A status with a streamed body of `bytes`, announced or chunked.
    static FakeReply streamed(int status, qint64 bytes, bool chunked);
    // `raw` bytes as they are (a part of an answer), then the connection cut.
    static FakeReply broken(QByteArray raw, loopback::BreakOff breakOff = {});
};

// A request as the fake service received it (host, method, path, url, headers, body).
struct RecordedRequest : loopback::Request {
    qint64 atMs = 0; // when it arrived, in ms since the service started
    // The client closed the connection before an answer was written.
    bool closedEarly = false;
};

// Loopback HTTP hosts standing in for the service's API hosts. Routes are scripted
// per host, method and path; unscripted routes answer 404 with an empty body. Paths are
// recorded and scripted below the base URLs' "/api" prefix.
class FakeService : public QObject {
    Q_OBJECT
public:
    static constexpr int anyHost = -1;

    explicit FakeService(int hostCount = 3, QObject *parent = nullptr);
    ~FakeService() override;

    // "http://127.0.0.1:<port>/api" for every host, in host order.
    QList<QUrl> baseURLs() const;
    // A loopback URL whose port nothing listens on (connections are refused).
    static QUrl closedPortURL(const QString &path = QStringLiteral("/api"));

    // The replies of one route on one host (or anyHost): each request takes the next
    // reply and the last one repeats. A host-specific script wins over an anyHost one.
    void script(int host, const QByteArray &method, const QString &path, QList<FakeReply> replies);

    // Forgets every script and record, and closes the connections still waiting for
    // an answer (for a service shared by several test functions).
    void reset();

    QList<RecordedRequest> requests() const { return m_requests; }
    int requestCount() const { return int(m_requests.size()); }

    // Run the event loop until the condition holds; false when the time-out passed first.
    bool waitForRequests(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool waitForClosedEarly(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    struct Script {
        QList<FakeReply> replies;
        int next = 0;
    };

    FakeReply nextReply(int host, const QByteArray &method, const QString &path);
    void receive(const loopback::Request &request, loopback::Exchange *exchange);

    QHash<QString, Script> m_scripts;
    QList<RecordedRequest> m_requests;
    QElapsedTimer m_clock;
    std::unique_ptr<loopback::LoopbackHosts> m_hosts;
};

} // namespace kovra::test
