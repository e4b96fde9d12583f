#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTcpSocket>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponder;

namespace kovra::loopback {

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// A request as one host received it.
struct Request {
    int host = 0;
    QByteArray method; // upper case: "GET", "HEAD", "POST"
    // Below the hosts' path prefix ("/me" for "/api/me"), without the query; the whole
    // path when it lies outside the prefix (see `underPrefix`).
    QString path;
    bool underPrefix = false;
    QUrl url;
    HeaderList headers;
    QByteArray body;

    // The value of a header (case-insensitive name); absent headers give a null array.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const { return !header(name).isNull(); }
};

// An answer written byte for byte, so that any status code goes out (the responder of
// Qt HttpServer only knows the registered ones).
struct RawResponse {
    int status = 200;
    HeaderList headers;
    QByteArray body;
    QByteArray contentType = QByteArrayLiteral("application/json");
    // Without a Content-Length the body ends when the connection closes.
    bool announceLength = true;
    // The body goes out in chunks and ends with the last (empty) chunk; wins over
    // announceLength.
    bool chunked = false;

    // The status line and headers, announcing `contentLength` bytes when announceLength.
    QByteArray head(qint64 contentLength) const;
    // The head and `body`, framed as a chunk and the last chunk when chunked.
    QByteArray bytes() const;
    // One piece of the body as it goes on the wire (a chunk when chunked).
    QByteArray framed(const QByteArray &piece) const;
};

// How a host cuts a connection off.
struct BreakOff {
    enum class How {
        Close, // an orderly close (FIN) once the queued bytes are out
        Reset, // a reset (RST) once the queued bytes are out
    };
    How how = How::Close;
    // How long the connection stays open after the last byte before it is cut.
    std::chrono::milliseconds after{0};
};

// The connection of one request while its answer is owed. Owned by the hosts; it
// deletes itself (later) once finished, so whoever answers later holds a QPointer.
class Exchange : public QObject {
    Q_OBJECT
public:
    ~Exchange() override;

    // Connected and not finished.
    bool isOpen() const;
    QTcpSocket *socket() const { return m_socket; }

    // Writes the answer and finishes; closes the connection when the body's end is
    // neither announced nor chunked.
    void respond(const RawResponse &response);
    // Writes the head of `response` (announcing `length`, unless chunked or unannounced)
    // and then `length` filler bytes as the connection drains, so a large body never
    // sits in memory whole. With `sendUpTo` short of `length` the body breaks off there
    // and the connection closes. The exchange finishes, and so stops reporting the
    // client's close, only once the last byte is queued.
    void stream(const RawResponse &response, qint64 length, qint64 sendUpTo);
    void stream(const RawResponse &response, qint64 length) { stream(response, length, length); }
    // Writes `bytes` as they are (any part of an answer, a status line alone) and then
    // cuts the connection off as `breakOff` says.
    void writeAndBreakOff(const QByteArray &bytes, BreakOff breakOff);
    // Runs `f` after `delay` on a precise timer the exchange owns, unless the exchange
    // has finished by then.
    void after(std::chrono::milliseconds delay, std::function<void()> f);
    // Closes the connection without an answer and finishes.
    void close();
    // Stops watching the connection and releases the exchange; the connection stays open.
    void finish();

Q_SIGNALS:
    // The client closed the connection before the exchange finished; it finishes next.
    void clientClosed();

private:
    friend class LoopbackHosts;
    Exchange(std::unique_ptr<QHttpServerResponder> responder, QObject *parent);
    void pump();
    void cut(BreakOff::How how);

    std::unique_ptr<QHttpServerResponder> m_responder;
    QPointer<QTcpSocket> m_socket;
    QMetaObject::Connection m_closeWatch;
    bool m_done = false;

    // The body being streamed.
    RawResponse m_streamed;
    qint64 m_length = 0;
    qint64 m_sendUpTo = 0;
    qint64 m_sent = 0;
    QMetaObject::Connection m_drainWatch;
};

struct LoopbackHostsOptions {
    int count = 3;
    // One port per host; 0, or no entry, takes a free port.
    QList<quint16> ports;
    // Hosts (by index) that refuse connections: their port is left without a listener.
    QSet<int> down;
    QString prefix = QStringLiteral("/api");
};

// HTTP hosts on 127.0.0.1 only. Every request goes to the handler with its exchange,
// which the handler answers at once or later. Lives on the GUI thread.
class LoopbackHosts : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const Request &request, Exchange *exchange)>;

    explicit LoopbackHosts(Handler handler, QObject *parent = nullptr);
    ~LoopbackHosts() override;

    // Starts every host; false with the reason when a port cannot be taken.
    bool listen(const LoopbackHostsOptions &options, QString *error = nullptr);

    QList<quint16> ports() const { return m_ports; }
    // "http://127.0.0.1:<port><prefix>" for every host, in host order (down ones too).
    QList<QUrl> baseURLs() const;
    // The base URLs joined with commas, the form KOVRA_API_BASE_URLS takes.
    QByteArray baseURLsText() const;

    // Aborts every connection still waiting for an answer, without signals.
    void abortAll();

    // A loopback port nothing listens on (connections to it are refused).
    static quint16 closedPort();

private:
    void receive(int host, const QHttpServerRequest &request, QHttpServerResponder &&responder);

    Handler m_handler;
    QString m_prefix;
    std::vector<std::unique_ptr<QHttpServer>> m_servers;
    QList<quint16> m_ports;
};

} // namespace kovra::loopback
