#include "platform/Http.h"

#include "platform/HttpBodyGuard.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPointer>

#include <algorithm>
#include <cstring>
#include <utility>

namespace kovra {

QString URLError::description() const
{
    switch (m_code) {
    case Cancelled:
        return QStringLiteral("cancelled");
    case TimedOut:
        return QStringLiteral("The request timed out.");
    case UnsupportedURL:
        return QStringLiteral("unsupported URL");
    case CannotFindHost:
        return QStringLiteral("A server with the specified hostname could not be found.");
    case CannotConnectToHost:
        return QStringLiteral("Could not connect to the server.");
    case NetworkConnectionLost:
        return QStringLiteral("The network connection was lost.");
    case NotConnectedToInternet:
        return QStringLiteral("The Internet connection appears to be offline.");
    case BadServerResponse:
        return QStringLiteral("bad server response");
    case CannotDecodeContentData:
        return QStringLiteral("cannot decode content data");
    case DataLengthExceedsMaximum:
        return QStringLiteral("resource exceeds maximum size");
    case SecureConnectionFailed:
        return QStringLiteral("An SSL error has occurred and a secure connection to the server cannot be made.");
    case ServerCertificateUntrusted:
        return QStringLiteral("The certificate for this server is invalid.");
    }
    return QStringLiteral("unknown URL error");
}

QByteArray HttpResponse::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

namespace {

class NoCookieJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    QList<QNetworkCookie> cookiesForUrl(const QUrl &) const override { return {}; }
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

// Whether a reply that finished with this error still carries the server's answer.
// Qt turns statuses of 400 and above into content and server errors (404, 409, 5xx,
// ...), and a 407 from the server is an answer like any other; with a lower status,
// such an error means the body could not be read or decoded ("Decompression failed"
// on a gzip bomb, a broken chunk).
bool isAnswer(int status, QNetworkReply::NetworkError error)
{
    // Qt reports 400 (and 418) as ProtocolInvalidOperationError.
    const bool statusError = error == QNetworkReply::ProxyAuthenticationRequiredError
        || error == QNetworkReply::ProtocolInvalidOperationError
        || (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        || (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError);
    return error == QNetworkReply::NoError || (status >= 400 && statusError);
}

// A content error under 400, or a protocol failure once the headers have arrived.
bool isBodyFailure(QNetworkReply::NetworkError error)
{
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError)
        || (error >= QNetworkReply::ProtocolUnknownError && error <= QNetworkReply::ProtocolFailure);
}

URLError::Code codeFor(QNetworkReply::NetworkError error, bool certificateRejected)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return URLError::CannotConnectToHost;
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyNotFoundError:
        return URLError::CannotFindHost;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
        return URLError::TimedOut;
    case QNetworkReply::OperationCanceledError:
        return URLError::Cancelled;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
        return URLError::NetworkConnectionLost;
    case QNetworkReply::SslHandshakeFailedError:
        return certificateRejected ? URLError::ServerCertificateUntrusted : URLError::SecureConnectionFailed;
    // Qt reports an unreachable network (no route, interface down) as an unknown error.
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::BackgroundRequestNotAllowedError:
        return URLError::NotConnectedToInternet;
    case QNetworkReply::ProtocolUnknownError:
        return URLError::UnsupportedURL;
    default:
        return URLError::BadServerResponse;
    }
}

// Names under the special-use domain "invalid" never resolve (RFC 6761); they are
// refused without asking a resolver.
bool isInvalidDomainName(QString host)
{
    if (host.endsWith(u'.'))
        host.chop(1);
    return host.compare(u"invalid", Qt::CaseInsensitive) == 0 || host.endsWith(u".invalid", Qt::CaseInsensitive);
}

// Room above a cap for what a socket legitimately holds beyond what readers took:
// headers, TLS framing and the data of replies in transit.
constexpr qint64 kGuardSlack = 2 * 1024 * 1024;

// What a reply may read ahead of its reader: the cap and one byte more, so that a reader
// within its cap never makes Qt hold a body back. Qt loses a connection closed while it
// holds back a chunked body (the reply then waits for ever, or ends as if whole), and a
// body that fills this much goes over the cap whatever follows. No cap, no limit.
qint64 readAheadFor(qint64 cap)
{
    return cap >= 0 ? cap + 1 : 0;
}

// Whether an answer ended with less body than it announced: its connection closed in the
// middle of the body and Qt ended the reply as if the body were whole. Answers to HEAD and
// statuses without a body announce a length they never send; Qt drops the length of a
// body it decompresses.
bool endedShort(const QNetworkReply &reply, int status, qint64 bodyBytes)
{
    if (reply.operation() == QNetworkAccessManager::HeadOperation || (status >= 100 && status < 200)
        || status == 204 || status == 304)
        return false;
    bool announced = false;
    const qint64 length = reply.header(QNetworkRequest::ContentLengthHeader).toLongLong(&announced);
    return announced && bodyBytes < length;
}

// A request body that goes out once per answer: a sequential device that rewinds only
// after the server has answered what it got. Qt sends a request again when its
// connection closes before the answer, but only after rewinding the body; this one
// refuses, and Qt fails the request (ContentReSendError) instead of writing it twice.
// A redirect (307, 308) is an answer: the body goes to the new place from its start.
class OneShotBody : public QIODevice {
public:
    explicit OneShotBody(QByteArray data) : m_data(std::move(data)) { open(QIODevice::ReadOnly); }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_data.size() - m_read + QIODevice::bytesAvailable(); }

    void answered() { m_mayRewind = true; }

    bool reset() override
    {
        if (!std::exchange(m_mayRewind, false))
            return false;
        close(); // drops what Qt peeked into the device's own buffer
        m_read = 0;
        return open(QIODevice::ReadOnly);
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_read >= m_data.size())
            return -1;
        const qint64 n = std::min(maxSize, qint64(m_data.size()) - m_read);
        std::memcpy(data, m_data.constData() + m_read, size_t(n));
        m_read += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_read = 0;
    bool m_mayRewind = false;
};

// Watches one reply while its request runs: collects the body up to the cap, aborts
// on a time-out, the cancellation, a withheld body past the cap or a connection cut
// before any answer, remembers why, and ends once the reply has finished or is gone.
class InFlight : public QObject {
public:
    enum class Abort { None, TimedOut, Cancelled, OverCap, Withheld, CutOff };

    // Watches the request from before its reply is made: Qt sends a request out as its
    // reply is made, and the body guard counts what arrives from the moment it watches.
    InFlight(std::chrono::milliseconds idleTimeout, std::chrono::milliseconds timeout, Clock &clock, qint64 cap)
        : m_cap(cap), m_clock(clock), m_timeout(timeout),
          m_idleTimeout(idleTimeout < timeout ? std::optional(idleTimeout) : std::nullopt)
    {
        watchWithheldBody();
    }

    // Follows the request's reply from here on.
    void track(QNetworkReply *reply, OneShotBody *body, const CancellationToken &token)
    {
        m_reply = reply;
        reply->setReadBufferSize(readAheadFor(m_cap));
        connect(reply, &QNetworkReply::readyRead, this, [this] {
            progressed();
            take();
        });
        connect(reply, &QNetworkReply::metaDataChanged, this, [this, body = QPointer<OneShotBody>(body)] {
            progressed();
            if (body)
                body->answered();
            m_answered = true;
            m_watch.reset(); // from here on the body reaches readyRead
        });
        connect(reply, &QNetworkReply::socketStartedConnecting, this, [this] {
            progressed();
            m_connecting = true;
        });
        connect(reply, &QNetworkReply::uploadProgress, this, [this] { progressed(); });
        connect(reply, &QNetworkReply::requestSent, this, [this] {
            progressed();
            requestSent();
        });
        connect(reply, &QNetworkReply::redirected, this, [this] {
            progressed();
            m_sends = 0;
            m_connecting = false;
            m_answered = false;
            watchWithheldBody();
        });
        connect(reply, &QNetworkReply::finished, this, [this] { end(); });
        connect(reply, &QObject::destroyed, this, [this] { end(); });
#if QT_CONFIG(ssl)
        connect(reply, &QNetworkReply::sslErrors, this,
                [this](const QList<QSslError> &errors) { m_certificateRejected = !errors.isEmpty(); });
#endif
        m_timer = m_clock.startTimer(m_timeout, [this] { abortFor(Abort::TimedOut); });
        progressed();
        token.onCancel(this, [this] { abortFor(Abort::Cancelled); });
        if (reply->isFinished())
            end();
    }

    ~InFlight() override
    {
        if (!m_reply)
            return;
        if (m_reply->isRunning()) {
            // The abort finishes the reply: this watcher must not hear of it.
            disconnect(m_reply, nullptr, this, nullptr);
            m_reply->abort();
        }
        m_reply->deleteLater();
    }

    // Ends once the reply has finished or has been destroyed; never throws.
    QCoro::Task<void> ended() const { return m_ended.waitForEnd(); }

    HttpResponse result()
    {
        if (!m_reply)
            throw URLError(URLError::Cancelled);
        take();
        switch (m_abort) {
        case Abort::TimedOut:
            throw URLError(URLError::TimedOut);
        case Abort::Cancelled:
            throw URLError(URLError::Cancelled);
        case Abort::Withheld:
            throw URLError(URLError::DataLengthExceedsMaximum);
        case Abort::CutOff:
            throw URLError(URLError::NetworkConnectionLost);
        case Abort::None:
        case Abort::OverCap:
            break;
        }

        // Stopped at the cap, the reply has its head and no error of its own.
        const bool overCap = m_abort == Abort::OverCap;
        if (const auto failure = URLError::failureOf(*m_reply, m_certificateRejected, m_body.size()); failure && !overCap)
            throw URLError(*failure);
        HttpResponse response;
        response.isHttp = isHttpReply(*m_reply);
        if (response.isHttp)
            response.statusCode = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        response.body = m_body;
        response.headers = m_reply->rawHeaderPairs();
        response.overCap = overCap;
        return response;
    }

private:
    void end()
    {
        m_timer.reset();
        m_idleTimer.reset();
        m_watch.reset();
        m_readAhead.reset();
        m_ended.resolve();
    }

    // Restarts the idle time-out, when there is one.
    void progressed()
    {
        if (m_idleTimeout && m_abort == Abort::None && m_timer)
            m_idleTimer = m_clock.startTimer(*m_idleTimeout, [this] { abortFor(Abort::TimedOut); });
    }

    void take()
    {
        if (m_abort != Abort::None || !m_reply)
            return;
        const qint64 before = m_body.size();
        if (m_cap < 0) {
            m_body += m_reply->readAll();
        } else {
            // No more than is there: read(n) sets aside n bytes first.
            m_body += m_reply->read(std::min(m_cap - m_body.size() + 1, m_reply->bytesAvailable()));
            if (m_body.size() > m_cap) {
                m_body.truncate(m_cap);
                abortFor(Abort::OverCap);
            }
        }
        HttpBodyGuard::instance().delivered(m_body.size() - before);
    }

    // Qt shows nothing of a 401 or 407 answer until its body has ended; the guard
    // stops one that outgrows the cap. What Qt may read ahead of this reply's reader is
    // declared from the start, for the watches of other requests.
    void watchWithheldBody()
    {
        if (m_cap < 0)
            return;
        HttpBodyGuard &guard = HttpBodyGuard::instance();
        if (!m_readAhead)
            m_readAhead = guard.allowReadAhead(readAheadFor(m_cap));
        m_watch = guard.watch(m_cap + kGuardSlack, m_readAhead.get(), [this] { abortFor(Abort::Withheld); });
    }

    // Qt sends a request again when its connection closes before any answer, and tells
    // only through a second requestSent(). On a connection opened for this request the
    // host has cut it off: that is the failure. On a kept-alive connection the server
    // may simply have closed it as the request went out; Qt's one resend goes ahead.
    void requestSent()
    {
        ++m_sends;
        if (m_sends == 1)
            m_freshConnection = m_connecting;
        const int allowed = m_freshConnection ? 1 : 2;
        if (m_sends > allowed && !m_answered)
            abortFor(Abort::CutOff);
    }

    void abortFor(Abort why)
    {
        if (m_abort != Abort::None || !m_reply || m_reply->isFinished())
            return;
        m_abort = why;
        m_timer.reset();
        m_idleTimer.reset();
        m_watch.reset();
        m_readAhead.reset();
        // Called from the reply's own signals: abort from the event loop, unless the
        // reply has ended meanwhile.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_reply && m_reply->isRunning() && m_reply->error() == QNetworkReply::NoError)
                    m_reply->abort();
            },
            Qt::QueuedConnection);
    }

    QPointer<QNetworkReply> m_reply;
    qint64 m_cap;
    Clock &m_clock;
    std::chrono::milliseconds m_timeout;
    std::optional<std::chrono::milliseconds> m_idleTimeout;
    QByteArray m_body;
    std::unique_ptr<ClockTimer> m_timer;
    std::unique_ptr<ClockTimer> m_idleTimer;
    std::unique_ptr<HttpBodyGuard::Watch> m_watch;
    std::unique_ptr<HttpBodyGuard::ReadAhead> m_readAhead;
    OneShot<void> m_ended;
    Abort m_abort = Abort::None;
    int m_sends = 0;
    bool m_connecting = false;
    bool m_freshConnection = false;
    bool m_answered = false;
    bool m_certificateRejected = false;
};

} // namespace

std::optional<URLError::Code> URLError::failureOf(const QNetworkReply &reply, bool certificateRejected,
                                                  qint64 bodyBytes)
{
    const QNetworkReply::NetworkError error = reply.error();
    // Qt would have sent the request again after its connection closed, but its body goes
    // out once: whatever status arrived before (a redirect's, or the start of an answer),
    // the connection was lost.
    if (error == QNetworkReply::ContentReSendError)
        return NetworkConnectionLost;
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!isHttpReply(reply)) {
        if (error == QNetworkReply::NoError)
            return std::nullopt;
    } else if (status.isValid()) {
        if (isAnswer(status.toInt(), error)) {
            if (bodyBytes >= 0 && endedShort(reply, status.toInt(), bodyBytes))
                return NetworkConnectionLost;
            return std::nullopt;
        }
        if (isBodyFailure(error))
            return CannotDecodeContentData;
    }
    return codeFor(error, certificateRejected);
}

bool isHttpReply(const QNetworkReply &reply)
{
    const QString scheme = reply.url().scheme();
    return scheme == u"http" || scheme == u"https";
}

HttpSession::HttpSession(Kind kind, std::chrono::milliseconds timeout, std::shared_ptr<Clock> clock, QObject *parent)
    : HttpSession(kind, timeout, timeout, std::move(clock), parent)
{
}

HttpSession::HttpSession(Kind kind, std::chrono::milliseconds idleTimeout, std::chrono::milliseconds timeout,
                         std::shared_ptr<Clock> clock, QObject *parent)
    : QObject(parent), m_kind(kind), m_idleTimeout(idleTimeout), m_timeout(timeout), m_clock(std::move(clock)),
      m_nam(new QNetworkAccessManager(this))
{
    if (kind == Kind::Ephemeral)
        m_nam->setCookieJar(new NoCookieJar(m_nam));
}

HttpSession::~HttpSession()
{
    // Replies are children of the access manager and go with it; aborting them first
    // finishes them, so every sender ends.
    for (QNetworkReply *reply : m_nam->findChildren<QNetworkReply *>()) {
        if (reply->isRunning())
            reply->abort();
    }
}

std::unique_ptr<HttpSession> HttpSession::ephemeral(std::chrono::milliseconds timeout, std::shared_ptr<Clock> clock)
{
    return std::make_unique<HttpSession>(Kind::Ephemeral, timeout, std::move(clock));
}

std::unique_ptr<HttpSession> HttpSession::ephemeral(std::chrono::milliseconds idleTimeout,
                                                    std::chrono::milliseconds timeout, std::shared_ptr<Clock> clock)
{
    return std::make_unique<HttpSession>(Kind::Ephemeral, idleTimeout, timeout, std::move(clock));
}

QCoro::Task<HttpResponse> HttpSession::send(QByteArray method, QNetworkRequest request, QByteArray body,
                                            CancellationToken token, qint64 maxBodyBytes)
{
    if (token.isCancelled())
        throw URLError(URLError::Cancelled);
    if (isInvalidDomainName(request.url().host()))
        throw URLError(URLError::CannotFindHost);
    // A transfer time-out that cannot pass before the session's own is dropped: Qt
    // restarts its timer through the event loop on every read.
    if (request.transferTimeout() >= m_timeout.count())
        request.setTransferTimeout(0);
    if (m_kind == Kind::Ephemeral) {
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    }
    // The frame keeps what it uses after the wait: the session may be gone by then.
    const std::shared_ptr<Clock> clock = m_clock;
    InFlight flight(m_idleTimeout, m_timeout, *clock, maxBodyBytes);
    // get() and post() rather than a custom verb: only they reach non-HTTP schemes.
    // HEAD goes through head(): as a custom verb Qt would wait for the body that the
    // answer's length announces (or, chunked, for ever). Any other method (a POST that
    // creates an invoice) goes out once: its body comes unbuffered from a OneShotBody,
    // so Qt cannot send the request again after a cut-off.
    QNetworkReply *reply = nullptr;
    OneShotBody *once = nullptr;
    if (method == "GET" || method == "HEAD") {
        reply = method == "GET" && body.isEmpty()    ? m_nam->get(request)
              : method == "HEAD" && body.isEmpty() ? m_nam->head(request)
                                                   : m_nam->sendCustomRequest(request, method, body);
    } else {
        request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        once = new OneShotBody(std::move(body));
        reply = method == "POST" ? m_nam->post(request, once) : m_nam->sendCustomRequest(request, method, once);
        once->setParent(reply);
    }
    flight.track(reply, once, token);
    co_await flight.ended();
    co_return flight.result();
}

} // namespace kovra
