#pragma once

#include "core/APIError.h"
#include "core/AppGroupStore.h"
#include "core/Endpoint.h"
#include "core/JWTProvider.h"
#include "platform/Async.h"
#include "platform/Http.h"
#include "platform/Json.h"
#include "platform/Log.h"

#include <QList>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

namespace kovra {

// The one HTTP client of the service API. The service answers under three base URLs;
// the client sends every request to its active one first and to the others only when
// that gives no usable answer, and makes whichever answers the active one (persisted
// for the next launch). GET requests race the base URLs with a stagger; other
// requests try one after another and move on only when the network fails.
// Everything it reads comes through its constructor. Lives on the GUI thread.
class APIClient : public QObject {
    Q_OBJECT
public:
    // The answer that counts, whatever its status.
    struct Answer {
        int statusCode = 0;
        QByteArray body;
        // The body was longer than the client's cap; `body` is then empty.
        bool bodyTooLarge = false;
    };

    // One request as it goes on the wire.
    struct Request {
        QByteArray method;
        QNetworkRequest request;
        QByteArray body;
    };

    // `primary` serves the active base URL, `fallback` every other candidate. The
    // start-up hands every client the process's two sessions (makeDefaultSession(),
    // makeFallbackSession()); a client given one session twice uses it for all.
    // Both must outlive the client's requests; a session that goes first fails them.
    struct Sessions {
        HttpSession *primary = nullptr;
        HttpSession *fallback = nullptr;
    };

    struct Options {
        std::chrono::milliseconds stagger = defaultStagger;
        qint64 maxBodyBytes = defaultMaxBodyBytes;
        // Measures the stagger.
        std::shared_ptr<Clock> clock = Clock::system();
    };

    static constexpr std::chrono::milliseconds defaultStagger{600};
    static constexpr qint64 defaultMaxBodyBytes = 8 * 1024 * 1024;
    static constexpr std::chrono::seconds requestTimeout{60};

    // `baseURLs` are the three base URLs in their fixed order (baseURLsFor()). The
    // active base URL is restored from `store`'s defaults and promotions are written
    // there; the token is read from `jwtProvider` once per call that needs it.
    APIClient(Sessions sessions, QList<QUrl> baseURLs, std::shared_ptr<JWTProvider> jwtProvider, AppGroupStore store,
              Options options, QObject *parent = nullptr);
    APIClient(Sessions sessions, QList<QUrl> baseURLs, std::shared_ptr<JWTProvider> jwtProvider, AppGroupStore store)
        : APIClient(sessions, std::move(baseURLs), std::move(jwtProvider), std::move(store), Options())
    {
    }
    ~APIClient() override;

    // What the start-up builds once and hands down.
    // The built-in base URLs, in their fixed order.
    static QList<QUrl> builtInBaseURLs();
    // The three URLs of an override text ("a,b,c"), or none unless it holds exactly
    // three distinct valid http(s) URLs.
    static std::optional<QList<QUrl>> parseBaseURLOverride(const QByteArray &text);
    // The base URLs to use given the override text (KOVRA_API_BASE_URLS): its URLs, or
    // the built-in ones when it is empty or unusable (logged).
    static QList<QUrl> baseURLsFor(const QByteArray &overrideText);
    // "KovraS/<version> (build <build>; iOS; sing-box)".
    static const QString &userAgent();
    // The settings of the process's two sessions: 10 s, and 8 s ephemeral.
    static std::unique_ptr<HttpSession> makeDefaultSession(QObject *parent = nullptr);
    static std::unique_ptr<HttpSession> makeFallbackSession(QObject *parent = nullptr);

    // The stored active base URL when it is one of `baseURLs`, else none.
    static std::optional<QUrl> restoreActiveBaseURL(const Defaults &defaults, const QList<QUrl> &baseURLs);
    // The other base URLs in the order they are tried after `url` (all of them when
    // `url` is none of them).
    static QList<QUrl> fallbackBaseURLs(const QUrl &url, const QList<QUrl> &baseURLs);

    QUrl activeBaseURL() const { return m_activeBaseURL; }
    const QList<QUrl> &baseURLs() const { return m_baseURLs; }

    // The request for one candidate. Throws APIError::unauthorized when the endpoint
    // needs the token and `token` is none or empty, and APIError::network carrying
    // URLError(UnsupportedURL) for a path parameter that cannot be sent.
    Request makeRequest(const Endpoint &endpoint, const QUrl &baseURL, const std::optional<QString> &token) const;

    // The host race (GET): candidates start one stagger apart, or at once after a
    // failure or a 5xx; the first answer that is not a 5xx wins, else the first 5xx.
    // Throws APIError::network (the last failure), CancellationError when the token
    // fires, or the error of makeRequest() before anything is sent.
    QCoro::Task<Answer> raceHosts(Endpoint endpoint, CancellationToken token = {});
    // One candidate after another, moving on only on a transport failure. Throws
    // APIError::network, URLError(Cancelled) when the token fires, APIError::server(-1)
    // for an answer that is not HTTP, or the error of makeRequest().
    QCoro::Task<Answer> sendSequential(Endpoint endpoint, CancellationToken token = {});

    // The typed request: sends the endpoint (race for GET, sequential otherwise), maps
    // the status (2xx decodes; 401 unauthorized, 409 conflict, 410 gone, any other
    // server(status)) and decodes the body as T. Transport errors pass unchanged.
    template<class T>
    QCoro::Task<T> send(Endpoint endpoint, CancellationToken token = {});

    // Decodes a reply body with the client's decoder (snake_case keys, ISO 8601
    // dates). On failure logs "decode <label> → <description>" and throws
    // APIError::decoding.
    template<class T>
    T decode(const QByteArray &body, const QString &label) const;

    // The endpoint's path as it may be logged (a sign-in nonce is masked).
    static QString decodeLabel(const Endpoint &endpoint);

    // The status mapping of send(): throws the APIError a non-2xx status maps to, and
    // decoding (logged under `label`) for a 2xx body over the cap.
    void checkAnswer(const Answer &answer, const QString &label) const;

private:
    QCoro::Task<Answer> transport(const Endpoint &endpoint, CancellationToken token);
    // The token when the endpoint needs one (read once per call), else none.
    QCoro::Task<std::optional<QString>> tokenFor(Endpoint endpoint) const;
    [[noreturn]] void failDecoding(const QString &label, std::exception_ptr error) const;
    QList<QUrl> candidates() const;
    HttpSession *sessionFor(qsizetype candidate) const;
    Answer answerFrom(const HttpResponse &response) const;
    // Makes `url` active at once; the defaults file is written from the event loop,
    // after the answer has gone to its caller (or when the client goes).
    void promote(const QUrl &url);
    void persistActiveBaseURL();

    QPointer<HttpSession> m_session;
    QPointer<HttpSession> m_fallbackSession;
    QList<QUrl> m_baseURLs;
    QUrl m_activeBaseURL;
    AppGroupStore m_store;
    std::shared_ptr<JWTProvider> m_jwtProvider;
    JsonDecoder m_decoder{KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601};
    Logger m_log{QStringLiteral("APIClient")};
    Options m_options;
    std::optional<QString> m_unpersisted;
};

template<class T>
QCoro::Task<T> APIClient::send(Endpoint endpoint, CancellationToken token)
{
    QPointer<APIClient> self(this);
    const Answer answer = co_await transport(endpoint, token);
    if (!self)
        throw CancellationError();
    const QString label = decodeLabel(endpoint);
    checkAnswer(answer, label);
    co_return decode<T>(answer.body, label);
}

template<class T>
T APIClient::decode(const QByteArray &body, const QString &label) const
{
    try {
        return m_decoder.decode<T>(body);
    } catch (...) {
        failDecoding(label, std::current_exception());
    }
}

} // namespace kovra
