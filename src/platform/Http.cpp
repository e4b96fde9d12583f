#include "platform/Http.h"

#include "platform/HttpBodyGuard.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPointer>

#include <algorithm>
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
// headers, TLS framing and the read-ahead of replies in transit.
constexpr qint64 kGuardSlack = 2 * HttpSession::readAheadBytes;

// Watches one reply while its request runs: collects the body up to the cap, aborts
// on the time-out, the cancellation, a withheld body past the cap or a connection cut
// before any answer, remembers why, and ends once the reply has finished or is gone.
class InFlight : public QObject {
public:
    enum class Abort { None, TimedOut, Cancelled, OverCap, Withheld, CutOff };

    InFlight(QNetworkReply *reply, std::chrono::milliseconds timeout, Clock &clock, const CancellationToken &token,
             qint64 cap)
        : m_reply(reply), m_cap(cap)
    {
        reply->setReadBufferSize(HttpSession::readAheadBytes);
        connect(reply, &QNetworkReply::readyRead, this, [this] { take(); });
        connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
            m_answered = true;
            m_watch.reset(); // from here on the body reaches readyRead
            checkAnnouncedLength();
        });
        connect(reply, &QNetworkReply::socketStartedConnecting, this, [this] { m_connecting = true; });
        connect(reply, &QNetworkReply::requestSent, this, [this] { requestSent(); });
        connect(reply, &QNetworkReply::redirected, this, [this] {
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
        m_timer = clock.startTimer(timeout, [this] { abortFor(Abort::TimedOut); });
        token.onCancel(this, [this] { abortFor(Abort::Cancelled); });
        watchWithheldBody();
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

        HttpResponse response;
        // Qt gives file: replies a status too, so the scheme decides what is HTTP.
        const QString scheme = m_reply->url().scheme();
        response.isHttp = scheme == u"http" || scheme == u"https";
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QNetworkReply::NetworkError error = m_reply->error();
        const bool overCap = m_abort == Abort::OverCap;
        if (response.isHttp && status.isValid() && (overCap || isAnswer(status.toInt(), error)))
            response.statusCode = status.toInt();
        else if (response.isHttp && status.isValid() && isBodyFailure(error))
            throw URLError(URLError::CannotDecodeContentData);
        else if (response.isHttp || (!overCap && error != QNetworkReply::NoError))
            throw URLError(codeFor(error, m_certificateRejected));
        response.body = m_body;
        response.headers = m_reply->rawHeaderPairs();
        response.overCap = overCap;
        return response;
    }

private:
    void end()
    {
        m_timer.reset();
        m_watch.reset();
        m_ended.resolve();
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

    void checkAnnouncedLength()
    {
        if (m_cap < 0)
            return;
        bool ok = false;
        const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
        if (ok && length > m_cap)
            abortFor(Abort::OverCap);
    }

    // Qt shows nothing of a 401 or 407 answer until its body has ended; the guard
    // stops one that outgrows the cap.
    void watchWithheldBody()
    {
        if (m_cap >= 0)
            m_watch = HttpBodyGuard::instance().watch(m_cap + kGuardSlack, [this] { abortFor(Abort::Withheld); });
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
        m_watch.reset();
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
    QByteArray m_body;
    std::unique_ptr<ClockTimer> m_timer;
    std::unique_ptr<HttpBodyGuard::Watch> m_watch;
    OneShot<void> m_ended;
    Abort m_abort = Abort::None;
    int m_sends = 0;
    bool m_connecting = false;
    bool m_freshConnection = false;
    bool m_answered = false;
    bool m_certificateRejected = false;
};

} // namespace

HttpSession::HttpSession(Kind kind, std::chrono::milliseconds timeout, std::shared_ptr<Clock> clock, QObject *parent)
    : QObject(parent), m_kind(kind), m_timeout(timeout), m_clock(std::move(clock)),
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
    // get() and post() rather than a custom verb: only they reach non-HTTP schemes.
    // HEAD goes through head(): as a custom verb Qt would wait for the body that the
    // answer's length announces (or, chunked, for ever).
    QNetworkReply *reply = method == "GET" && body.isEmpty()  ? m_nam->get(request)
                         : method == "HEAD" && body.isEmpty() ? m_nam->head(request)
                         : method == "POST"                   ? m_nam->post(request, body)
                                                              : m_nam->sendCustomRequest(request, method, body);
    // The frame keeps what it uses after the wait: the session may be gone by then.
    const std::shared_ptr<Clock> clock = m_clock;
    InFlight flight(reply, m_timeout, *clock, token, maxBodyBytes);
    co_await flight.ended();
    co_return flight.result();
}

} // namespace kovra
