#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class QLocalSocket;

namespace kovra::provider {

// A scripted tunnel provider: listens on the provider socket and speaks the line
// protocol of platform/TunnelWire.h. Everything it is asked is recorded. Used by the
// development provider (tools/dev-provider) and, in-process, by the tests.
class ProviderServer : public QObject {
    Q_OBJECT
public:
    // One status to report, `after` the previous step (or the request).
    struct Step {
        int status;
        std::chrono::milliseconds after{0};
    };

    struct Request {
        qint64 id = -1;
        QString method;
        QJsonObject object;   // the whole request line
        QJsonObject message;  // "message" requests: the decoded provider message
        QString op() const { return message.value(QStringLiteral("op")).toString(); }
    };

    // An error the provider reports for a request ("ok": false).
    struct ErrorReply {
        QString domain = QStringLiteral("VPNErrorDomain");
        int code = 3;
        QString message;
    };

    // How a provider message, a start or a stop is answered. A start or a stop that is
    // answered with data or without accepts and runs its steps.
    struct Reply {
        enum Kind { Data, NoData, Silence, Disconnect, Failure };
        Kind kind = NoData;
        QByteArray data;
        std::chrono::milliseconds delay{0};
        ErrorReply error; // Failure

        static Reply withData(QByteArray bytes, std::chrono::milliseconds delay = {})
        {
            return {Data, std::move(bytes), delay, {}};
        }
        static Reply json(const QJsonObject &object, std::chrono::milliseconds delay = {});
        static Reply noData(std::chrono::milliseconds delay = {}) { return {NoData, {}, delay, {}}; }
        static Reply silence() { return {Silence, {}, {}, {}}; }
        // Drops every client connection instead of answering.
        static Reply disconnect(std::chrono::milliseconds delay = {}) { return {Disconnect, {}, delay, {}}; }
        // Answers "ok": false with the error.
        static Reply failure(ErrorReply error) { return {Failure, {}, {}, std::move(error)}; }
        static Reply failure() { return failure(ErrorReply{}); }
    };
    using MessageHandler = std::function<Reply(const Request &request)>;

    explicit ProviderServer(QString socketPath, QObject *parent = nullptr);
    ~ProviderServer() override;

    QString socketPath() const { return m_path; }
    // Creates the socket's folder (0700), removes a stale socket file and listens. Refuses
    // (logged, false) a folder of another user or one that others may write to.
    bool listen();
    // Stops listening and drops every client, as if the provider had been killed.
    void kill();
    bool isListening() const { return m_server.isListening(); }
    int clientCount() const { return int(m_clients.size()); }

    int status() const { return m_status; }
    // Sets the status and reports it to every client when it changed.
    void setStatus(int status);

    // What "start" and "stop" do after answering: the statuses they go through.
    // Defaults: connecting, then connected 300 ms later; disconnecting, then disconnected.
    void setStartSteps(QList<Step> steps) { m_startSteps = std::move(steps); }
    void setStopSteps(QList<Step> steps) { m_stopSteps = std::move(steps); }
    // How "start" and "stop" are answered; one that is not accepted changes no status.
    void setStartReply(Reply reply) { m_startReply = std::move(reply); }
    void setStopReply(Reply reply) { m_stopReply = std::move(reply); }
    // Starts or stops the tunnel on the provider's own account, with no client asking:
    // the statuses of a "start" or a "stop". A start changes nothing (false) while
    // starts are refused.
    bool startTunnel();
    void stopTunnel() { runSteps(m_stopSteps); }

    // How messages with this "op" are answered; ops without a handler get a reply without data.
    void setMessageHandler(const QString &op, MessageHandler handler) { m_handlers.insert(op, std::move(handler)); }
    void setMessageReply(const QString &op, Reply reply);

    // Every request received, in order.
    const QList<Request> &requests() const { return m_requests; }
    QList<Request> requests(const QString &method) const;
    // Writes raw bytes to every client (malformed or oversized lines).
    void sendRaw(const QByteArray &bytes);

Q_SIGNALS:
    void requestReceived(const kovra::provider::ProviderServer::Request &request);
    void clientConnected();
    void statusChanged(int status);

private:
    struct Client;
    void accept();
    void readFrom(QLocalSocket *socket);
    void handle(QLocalSocket *socket, const QByteArray &line);
    void answerMessage(QLocalSocket *socket, const Request &request);
    void answer(QLocalSocket *socket, qint64 id, const Reply &script, QJsonObject accepted,
                std::function<void()> onAccepted = {});
    void runSteps(const QList<Step> &steps);
    void reply(QLocalSocket *socket, qint64 id, QJsonObject fields);
    void dropClients();

    QString m_path;
    QLocalServer m_server;
    QHash<QLocalSocket *, Client *> m_clients;
    int m_status = 1;
    QList<Step> m_startSteps;
    QList<Step> m_stopSteps;
    Reply m_startReply;
    Reply m_stopReply;
    QHash<QString, MessageHandler> m_handlers;
    QList<Request> m_requests;
    QList<QTimer *> m_stepTimers;
};

} // namespace kovra::provider
