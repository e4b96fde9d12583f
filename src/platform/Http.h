#pragma once

#include "platform/Async.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace kovra {

// A transport failure of an HTTP request. The codes are the URL-loading codes the
// rest of the product reasons about; each has one fixed technical text.
class URLError : public Error {
public:
    enum Code {
        Cancelled = -999,
        TimedOut = -1001,
        UnsupportedURL = -1002,
        CannotFindHost = -1003,
        CannotConnectToHost = -1004,
        NetworkConnectionLost = -1005,
        NotConnectedToInternet = -1009,
        BadServerResponse = -1011,
        CannotDecodeContentData = -1016,
        DataLengthExceedsMaximum = -1103,
        SecureConnectionFailed = -1200,
        ServerCertificateUntrusted = -1202,
    };

    explicit URLError(Code code) : m_code(code) {}
    Code code() const { return m_code; }

    // What a finished reply's error means: nothing when the reply holds the server's
    // answer (any status over HTTP, any reply without error otherwise), else the code of
    // the failure. `certificateRejected`: the reply reported certificate errors.
    // `bodyBytes`, when 0 or more, is the body its reader took: an answer whose body ended
    // short of the length it announced is a lost connection (Qt may end such a reply as if
    // it were whole).
    static std::optional<Code> failureOf(const QNetworkReply &reply, bool certificateRejected,
                                         qint64 bodyBytes = -1);

    QString description() const override;
    bool isCancellation() const override { return m_code == Cancelled; }

private:
    Code m_code;
};

// What a server answered. Every HTTP status is an answer; only transport failures throw.
struct HttpResponse {
    // False when the URL's scheme answered without HTTP (a file: or data: URL).
    bool isHttp = true;
    int statusCode = 0;
    QByteArray body;
    QList<QNetworkReply::RawHeaderPair> headers;
    // The body was longer than the caller's cap: reading stopped there and body holds
    // its first bytes, at most the cap's worth.
    bool overCap = false;

    // The value of a header (case-insensitive name), empty when absent.
    QByteArray header(const QByteArray &name) const;
};

// Whether a reply came over HTTP(S): Qt gives file: replies a status too.
bool isHttpReply(const QNetworkReply &reply);

// A QNetworkAccessManager with a total time-out per request and, when shorter, an idle
// one: the longest wait for the request's next progress (connecting, the request sent,
// the head, body bytes). Sessions live on the GUI thread and are used there. A session
// owns its requests: destroying it ends every request still running (their senders see
// URLError(Cancelled)).
class HttpSession : public QObject {
    Q_OBJECT
public:
    // Ephemeral sessions keep no cookies and never use a cache.
    enum class Kind { Default, Ephemeral };

    static constexpr std::chrono::milliseconds defaultTimeout{10000};
    static constexpr std::chrono::milliseconds fallbackTimeout{8000};

    // The time-outs are measured on `clock` (precise timers).
    HttpSession(Kind kind, std::chrono::milliseconds timeout, std::shared_ptr<Clock> clock = Clock::system(),
                QObject *parent = nullptr);
    HttpSession(Kind kind, std::chrono::milliseconds idleTimeout, std::chrono::milliseconds timeout,
                std::shared_ptr<Clock> clock = Clock::system(), QObject *parent = nullptr);
    ~HttpSession() override;

    // A fresh ephemeral session of the caller's own (no connections shared with others).
    static std::unique_ptr<HttpSession> ephemeral(std::chrono::milliseconds timeout,
                                                  std::shared_ptr<Clock> clock = Clock::system());
    static std::unique_ptr<HttpSession> ephemeral(std::chrono::milliseconds idleTimeout,
                                                  std::chrono::milliseconds timeout,
                                                  std::shared_ptr<Clock> clock = Clock::system());

    Kind kind() const { return m_kind; }
    std::chrono::milliseconds timeout() const { return m_timeout; }

    // Sends one request and returns the answer, whatever its status. Throws URLError:
    // TimedOut when one of the session's time-outs passes first, Cancelled when the token
    // fires (the connection is aborted) or the session is destroyed, NetworkConnectionLost
    // as soon as a connection opened for the request closes before any answer (Qt would
    // send it again), for any request but GET and HEAD once its connection closes before
    // the answer (such a request is written once, never again, a redirected one included),
    // and for a body that ends short of the length it announced or, chunked, whose
    // connection Qt reports closed before the last chunk (over plain HTTP Qt can end such
    // a reply as if it were whole; over TLS it reports it); CannotDecodeContentData for a
    // body Qt could not decode, CannotFindHost at once for a host under ".invalid", other
    // codes for transport failures. With a cap of 0 or more, reading stops once the body
    // would exceed it and overCap is set, the first bytes kept; Qt holds at most the cap
    // and a byte more ahead of the reader. A body Qt withholds from readers (401, 407)
    // that grows past the cap ends the request with DataLengthExceedsMaximum.
    QCoro::Task<HttpResponse> send(QByteArray method, QNetworkRequest request, QByteArray body = {},
                                   CancellationToken token = {}, qint64 maxBodyBytes = -1);

private:
    Kind m_kind;
    std::chrono::milliseconds m_idleTimeout;
    std::chrono::milliseconds m_timeout;
    std::shared_ptr<Clock> m_clock;
    QNetworkAccessManager *m_nam;
};

} // namespace kovra
