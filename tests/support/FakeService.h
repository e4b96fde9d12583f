#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <vector>

class QHttpServer;

namespace kovra::test {

// One scripted answer of the fake service.
struct FakeReply {
    enum class Action {
        Answer,      // write the status, headers and body after the delay
        NeverAnswer, // keep the connection open and say nothing
        Close,       // close the connection after the delay without answering
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
    // When above 0, the body is this many bytes of 'x' instead of `body`, written as
    // the connection drains (the service never holds them all).
    qint64 streamedBytes = 0;

    static FakeReply json(int status, QByteArray body = {}, std::chrono::milliseconds delay = {});
    static FakeReply silent();
    static FakeReply close(std::chrono::milliseconds delay = {});
    // A status with a streamed body of `bytes`, announced or chunked.
    static FakeReply streamed(int status, qint64 bytes, bool chunked);
};

// A request as the fake service received it.
struct RecordedRequest {
    int host = 0;
    QByteArray method;
    QString path; // below the base URL's path prefix, without the query
    QUrl url;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    qint64 atMs = 0; // when it arrived, in ms since the service started
    // The client closed the connection before an answer was written.
    bool closedEarly = false;

    // The value of a header (case-insensitive name); absent headers give a null array.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const { return !header(name).isNull(); }
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
    struct Pending;
    struct Script {
        QList<FakeReply> replies;
        int next = 0;
    };

    FakeReply nextReply(int host, const QByteArray &method, const QString &path);
    // Writes the scripted answer; true while a streamed body is still being written.
    bool writeAnswer(Pending *pending);
    void finish(Pending *pending);

    const QString m_prefix = QStringLiteral("/api");
    std::vector<std::unique_ptr<QHttpServer>> m_hosts;
    QList<quint16> m_ports;
    QHash<QString, Script> m_scripts;
    QList<RecordedRequest> m_requests;
    std::vector<std::unique_ptr<Pending>> m_pending;
    QElapsedTimer m_clock;
};

} // namespace kovra::test
