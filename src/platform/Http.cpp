#include "platform/Http.h"

#include <QCoreApplication>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPointer>
#include <QTimer>

#include <utility>

#include <qcoro/qcorosignal.h>

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

// Failures below the HTTP layer: the connection, the name, TLS or a proxy. A status
// that arrived before one of these belongs to a cut-off answer, not to a usable one.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
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

// Watches one reply while its request runs: collects the body up to the cap, aborts
// on the time-out or the cancellation and remembers why it did.
class InFlight : public QObject {
public:
    enum class Abort { None, TimedOut, Cancelled, OverCap };

    InFlight(QNetworkReply *reply, std::chrono::milliseconds timeout, const CancellationToken &token, qint64 cap)
        : m_reply(reply), m_cap(cap)
    {
        connect(reply, &QNetworkReply::readyRead, this, [this] { take(); });
        connect(reply, &QNetworkReply::metaDataChanged, this, [this] { checkAnnouncedLength(); });
#if QT_CONFIG(ssl)
        connect(reply, &QNetworkReply::sslErrors, this,
                [this](const QList<QSslError> &errors) { m_certificateRejected = !errors.isEmpty(); });
#endif
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { abortFor(Abort::TimedOut); });
        m_timer.start(timeout);
        token.onCancel(this, [this] { abortFor(Abort::Cancelled); });
    }

    ~InFlight() override
    {
        if (!m_reply)
            return;
        disconnect(m_reply, nullptr, this, nullptr);
        if (m_reply->isRunning())
            m_reply->abort();
        m_reply->deleteLater();
    }

    HttpResponse result()
    {
        if (!m_reply)
            throw URLError(URLError::Cancelled);
        take();
        if (m_abort == Abort::TimedOut)
            throw URLError(URLError::TimedOut);
        if (m_abort == Abort::Cancelled)
            throw URLError(URLError::Cancelled);

        HttpResponse response;
        // Qt gives file: replies a status too, so the scheme decides what is HTTP.
        const QString scheme = m_reply->url().scheme();
        response.isHttp = scheme == u"http" || scheme == u"https";
        const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QNetworkReply::NetworkError error = m_reply->error();
        const bool overCap = m_abort == Abort::OverCap;
        if (response.isHttp && status.isValid() && (overCap || !isTransportFailure(error)))
            response.statusCode = status.toInt();
        else if (response.isHttp || (!overCap && error != QNetworkReply::NoError))
            throw URLError(codeFor(error, m_certificateRejected));
        response.body = m_body;
        response.headers = m_reply->rawHeaderPairs();
        response.overCap = overCap;
        return response;
    }

private:
    void take()
    {
        if (m_abort != Abort::None || !m_reply)
            return;
        if (m_cap < 0) {
            m_body += m_reply->readAll();
            return;
        }
        m_body += m_reply->read(m_cap - m_body.size() + 1);
        if (m_body.size() > m_cap) {
            m_body.truncate(m_cap);
            abortFor(Abort::OverCap);
        }
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

    void abortFor(Abort why)
    {
        if (m_abort != Abort::None || !m_reply || m_reply->isFinished())
            return;
        m_abort = why;
        m_timer.stop();
        // Aborting finishes the reply at once and the waiting coroutine resumes inside
        // that call, where it may destroy this object: abort from the event loop instead.
        QMetaObject::invokeMethod(m_reply, &QNetworkReply::abort, Qt::QueuedConnection);
    }

    QPointer<QNetworkReply> m_reply;
    qint64 m_cap;
    QByteArray m_body;
    QTimer m_timer;
    Abort m_abort = Abort::None;
    bool m_certificateRejected = false;
};

struct SharedSessions {
    QMutex mutex;
    HttpSession *sessions[2] = {};
};

SharedSessions &sharedSessions()
{
    static SharedSessions shared;
    return shared;
}

void deleteSharedSessions()
{
    auto &shared = sharedSessions();
    QMutexLocker lock(&shared.mutex);
    for (auto *&session : shared.sessions) {
        delete session;
        session = nullptr;
    }
}

HttpSession *sharedSession(int slot, HttpSession::Kind kind, std::chrono::milliseconds timeout)
{
    auto &shared = sharedSessions();
    QMutexLocker lock(&shared.mutex);
    if (!shared.sessions[slot]) {
        auto *session = new HttpSession(kind, timeout);
        if (auto *app = QCoreApplication::instance()) {
            if (session->thread() != app->thread())
                session->moveToThread(app->thread());
            static bool cleanupAdded = false;
            if (!std::exchange(cleanupAdded, true))
                qAddPostRoutine(deleteSharedSessions);
        }
        shared.sessions[slot] = session;
    }
    return shared.sessions[slot];
}

} // namespace

HttpSession::HttpSession(Kind kind, std::chrono::milliseconds timeout, QObject *parent)
    : QObject(parent), m_kind(kind), m_timeout(timeout), m_nam(new QNetworkAccessManager(this))
{
    if (kind == Kind::Ephemeral)
        m_nam->setCookieJar(new NoCookieJar(m_nam));
}

HttpSession::~HttpSession() = default;

HttpSession *HttpSession::sharedDefault()
{
    return sharedSession(0, Kind::Default, defaultTimeout);
}

HttpSession *HttpSession::sharedFallback()
{
    return sharedSession(1, Kind::Ephemeral, fallbackTimeout);
}

std::unique_ptr<HttpSession> HttpSession::ephemeral(std::chrono::milliseconds timeout)
{
    return std::make_unique<HttpSession>(Kind::Ephemeral, timeout);
}

QCoro::Task<HttpResponse> HttpSession::send(QByteArray method, QNetworkRequest request, QByteArray body,
                                            CancellationToken token, qint64 maxBodyBytes)
{
    if (token.isCancelled())
        throw URLError(URLError::Cancelled);
    if (m_kind == Kind::Ephemeral) {
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
        request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    }
    // get() and post() rather than a custom verb: only they reach non-HTTP schemes.
    QNetworkReply *reply = method == "GET" && body.isEmpty() ? m_nam->get(request)
                         : method == "POST"                  ? m_nam->post(request, body)
                                                             : m_nam->sendCustomRequest(request, method, body);
    InFlight flight(reply, m_timeout, token, maxBodyBytes);
    co_await qCoro(reply, &QNetworkReply::finished);
    co_return flight.result();
}

} // namespace kovra
