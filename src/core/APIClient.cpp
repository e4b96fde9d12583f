#include "core/APIClient.h"

#include "platform/BuildInfo.h"

#include <utility>

namespace kovra {

namespace {

QString orUnknown(const char *value)
{
    const QString text = QString::fromUtf8(value);
    return text.isEmpty() ? QStringLiteral("unknown") : text;
}

// What every request carries whatever its endpoint, set up once: copies share it
// until they set their own URL and token.
const QNetworkRequest &requestPrototype()
{
    static const QNetworkRequest prototype = [] {
        QNetworkRequest r;
        r.setTransferTimeout(int(std::chrono::milliseconds(APIClient::requestTimeout).count()));
        // The bearer token must not follow a redirect to another origin.
        r.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
        r.setRawHeader(QByteArrayLiteral("User-Agent"), APIClient::userAgent().toUtf8());
        r.setRawHeader(QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/json"));
        r.setRawHeader(QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json"));
        return r;
    }();
    return prototype;
}

// The working state of one host race. Candidate requests run as detached child
// tasks that report back here (always from the event loop, never from inside the
// call that launched them); each launch replaces the stagger timer, so a timer
// outlived by a later launch never fires.
class HostRace : public QObject {
    Q_OBJECT
public:
    struct Candidate {
        QUrl baseURL;
        QPointer<HttpSession> session;
    };
    enum class Result { Won, AllFailed, Cancelled };

    // `first` is the request for the first candidate; the others send it to their own
    // base URL, built when they start.
    HostRace(QList<Candidate> candidates, APIClient::Request first, Endpoint endpoint,
             const APIClient::Options &options, const CancellationToken &caller)
        : m_candidates(std::move(candidates)), m_first(std::move(first)), m_endpoint(std::move(endpoint)),
          m_options(options), m_caller(caller),
          m_children(CancellationSource::linkedTo(caller)),
          m_lastError(std::make_exception_ptr(URLError(URLError::NotConnectedToInternet)))
    {
        caller.onCancel(this, [this] { decide(Result::Cancelled); });
    }

    ~HostRace() override { m_children.cancel(); }

    void start() { launch(); }

    // Ends once the outcome is known and every candidate request has ended.
    QCoro::Task<void> finished() const { return m_finished.waitForEnd(); }

    Result result() const { return m_result; }
    const QUrl &winnerURL() const { return m_winnerURL; }
    const HttpResponse &winner() const { return m_winner; }
    const std::exception_ptr &lastError() const { return m_lastError; }

private:
    void launch()
    {
        m_stagger.reset();
        if (m_decided || m_caller.isCancelled() || m_nextIndex >= m_candidates.size())
            return;
        const int index = m_nextIndex++;
        ++m_inFlight;
        ++m_running;
        if (m_nextIndex < m_candidates.size())
            m_stagger = m_options.clock->startTimer(m_options.stagger, [this] { launch(); });
        const Candidate &c = m_candidates.at(index);
        APIClient::Request request = m_first;
        if (index > 0)
            request.request.setUrl(m_endpoint.url(c.baseURL));
        m_launching = true;
        runCandidate(this, index, c.session, std::move(request), m_children.token(), m_options.maxBodyBytes);
        m_launching = false;
    }

    static QCoro::Task<void> runCandidate(QPointer<HostRace> race, int index, QPointer<HttpSession> session,
                                          APIClient::Request request, CancellationToken token, qint64 maxBodyBytes)
    {
        std::optional<HttpResponse> response;
        std::exception_ptr error;
        try {
            if (!session)
                throw URLError(URLError::Cancelled);
            response = co_await session->send(request.method, request.request, request.body, token, maxBodyBytes);
        } catch (...) {
            error = std::current_exception();
        }
        if (race && !race->m_launching) {
            // Resumed from the event loop (the request's end is always delivered there).
            race->childEnded(index, response, error);
        } else if (race) {
            // Ended before its launch returned.
            QMetaObject::invokeMethod(
                race.data(),
                [race, index, response = std::move(response), error] {
                    if (race)
                        race->childEnded(index, response, error);
                },
                Qt::QueuedConnection);
        }
    }

    void childEnded(int index, const std::optional<HttpResponse> &response, const std::exception_ptr &error)
    {
        --m_running;
        if (!m_decided) {
            --m_inFlight;
            if (m_caller.isCancelled()) {
                decide(Result::Cancelled);
            } else if (error) {
                m_lastError = error;
                launch();
            } else if (!response->isHttp) {
                m_lastError = std::make_exception_ptr(APIError::server(-1));
                launch();
            } else if (response->statusCode >= 500 && response->statusCode <= 599) {
                if (!m_firstServerAnswer)
                    m_firstServerAnswer.emplace(index, *response);
                launch();
            } else {
                win(index, *response);
            }
            if (!m_decided && m_inFlight == 0 && m_nextIndex >= m_candidates.size()) {
                if (m_firstServerAnswer)
                    win(m_firstServerAnswer->first, m_firstServerAnswer->second);
                else
                    decide(Result::AllFailed);
            }
        }
        finishWhenIdle();
    }

    void win(int index, const HttpResponse &response)
    {
        m_winnerURL = m_candidates.at(index).baseURL;
        m_winner = response;
        decide(Result::Won);
    }

    void decide(Result result)
    {
        if (m_decided)
            return;
        m_decided = true;
        m_result = result;
        m_stagger.reset();
        m_children.cancel();
        finishWhenIdle();
    }

    void finishWhenIdle()
    {
        if (m_decided && m_running == 0)
            m_finished.resolve();
    }

    QList<Candidate> m_candidates;
    APIClient::Request m_first;
    Endpoint m_endpoint;
    APIClient::Options m_options;
    CancellationToken m_caller;
    CancellationSource m_children;
    std::unique_ptr<ClockTimer> m_stagger;
    int m_nextIndex = 0;
    bool m_launching = false;
    int m_inFlight = 0;
    int m_running = 0;
    std::optional<std::pair<int, HttpResponse>> m_firstServerAnswer; // the first 5xx received
    std::exception_ptr m_lastError;
    bool m_decided = false;
    OneShot<void> m_finished;
    Result m_result = Result::AllFailed;
    QUrl m_winnerURL;
    HttpResponse m_winner;
};

} // namespace

APIClient::APIClient(Sessions sessions, QList<QUrl> baseURLs, std::shared_ptr<JWTProvider> jwtProvider,
                     AppGroupStore store, Options options, QObject *parent)
    : QObject(parent), m_session(sessions.primary), m_fallbackSession(sessions.fallback),
      m_baseURLs(std::move(baseURLs)), m_store(std::move(store)), m_jwtProvider(std::move(jwtProvider)),
      m_options(std::move(options))
{
    Q_ASSERT(!m_baseURLs.isEmpty());
    m_activeBaseURL = restoreActiveBaseURL(*m_store.defaults(), m_baseURLs).value_or(m_baseURLs.first());
}

APIClient::~APIClient()
{
    persistActiveBaseURL();
}

QList<QUrl> APIClient::builtInBaseURLs()
{
    return {QUrl(QStringLiteral("https://api1.kovra.example")), QUrl(QStringLiteral("https://api2.kovra.example")),
            QUrl(QStringLiteral("https://api3.kovra.example"))};
}

QList<QUrl> APIClient::baseURLsFor(const QByteArray &overrideText)
{
    if (overrideText.isEmpty())
        return builtInBaseURLs();
    if (auto parsed = parseBaseURLOverride(overrideText))
        return *parsed;
    Logger(QStringLiteral("APIClient"))
        .error(QStringLiteral("KOVRA_API_BASE_URLS ignored: it must name exactly three http(s) base URLs, "
                              "separated by commas"));
    return builtInBaseURLs();
}

const QString &APIClient::userAgent()
{
    static const QString text = QStringLiteral("KovraS/%1 (build %2; iOS; sing-box)")
                                    .arg(orUnknown(buildinfo::version()), orUnknown(buildinfo::number()));
    return text;
}

std::unique_ptr<HttpSession> APIClient::makeDefaultSession(QObject *parent)
{
    return std::make_unique<HttpSession>(HttpSession::Kind::Default, HttpSession::defaultTimeout, Clock::system(),
                                         parent);
}

std::unique_ptr<HttpSession> APIClient::makeFallbackSession(QObject *parent)
{
    return std::make_unique<HttpSession>(HttpSession::Kind::Ephemeral, HttpSession::fallbackTimeout, Clock::system(),
                                         parent);
}

std::optional<QList<QUrl>> APIClient::parseBaseURLOverride(const QByteArray &text)
{
    const QStringList parts = QString::fromUtf8(text).split(u',');
    if (parts.size() != 3)
        return std::nullopt;
    QList<QUrl> urls;
    for (const QString &part : parts) {
        const QUrl url(part.trimmed(), QUrl::StrictMode);
        const bool http = url.scheme() == u"http" || url.scheme() == u"https";
        if (!url.isValid() || !http || url.host().isEmpty() || urls.contains(url))
            return std::nullopt;
        urls.append(url);
    }
    return urls;
}

std::optional<QUrl> APIClient::restoreActiveBaseURL(const Defaults &defaults, const QList<QUrl> &baseURLs)
{
    const auto text = defaults.string(AppGroupKey::activeBaseURL);
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || !baseURLs.contains(url))
        return std::nullopt;
    return url;
}

QList<QUrl> APIClient::fallbackBaseURLs(const QUrl &url, const QList<QUrl> &baseURLs)
{
    const qsizetype i = baseURLs.indexOf(url);
    if (i < 0)
        return baseURLs;
    QList<QUrl> after;
    for (qsizetype step = 1; step < baseURLs.size(); ++step)
        after.append(baseURLs.at((i + step) % baseURLs.size()));
    return after;
}

QList<QUrl> APIClient::candidates() const
{
    return QList<QUrl>{m_activeBaseURL} + fallbackBaseURLs(m_activeBaseURL, m_baseURLs);
}

HttpSession *APIClient::sessionFor(qsizetype candidate) const
{
    return candidate == 0 ? m_session.data() : m_fallbackSession.data();
}

QString APIClient::decodeLabel(const Endpoint &endpoint)
{
    return endpoint.kind() == Endpoint::Kind::poll ? QStringLiteral("/auth/poll/***") : endpoint.path();
}

APIClient::Request APIClient::makeRequest(const Endpoint &endpoint, const QUrl &baseURL,
                                          const std::optional<QString> &token) const
{
    Request r;
    r.method = endpoint.method();
    r.request = requestPrototype();
    try {
        r.request.setUrl(endpoint.url(baseURL));
    } catch (const InvalidPathParameterError &) {
        // Sending it would address another resource than the one named.
        throw APIError::network(std::make_exception_ptr(URLError(URLError::UnsupportedURL)));
    }
    if (endpoint.requiresAuth()) {
        if (!token || token->isEmpty())
            throw APIError::unauthorized();
        r.request.setRawHeader(QByteArrayLiteral("Authorization"), "Bearer " + token->toUtf8());
    }
    r.body = endpoint.body().value_or(QByteArray());
    return r;
}

QCoro::Task<std::optional<QString>> APIClient::tokenFor(Endpoint endpoint) const
{
    if (!endpoint.requiresAuth() || !m_jwtProvider)
        co_return std::nullopt;
    // The provider outlives this call: the frame holds it.
    const std::shared_ptr<JWTProvider> provider = m_jwtProvider;
    std::optional<QString> token = co_await provider->currentJWT();
    co_return token;
}

APIClient::Answer APIClient::answerFrom(const HttpResponse &response) const
{
    if (response.overCap)
        return {response.statusCode, {}, true};
    return {response.statusCode, response.body, false};
}

void APIClient::promote(const QUrl &url)
{
    m_activeBaseURL = url;
    m_log.info(QStringLiteral("promoted API host to %1").arg(url.host()));
    const bool scheduled = m_unpersisted.has_value();
    m_unpersisted = url.toString();
    if (!scheduled)
        QMetaObject::invokeMethod(this, &APIClient::persistActiveBaseURL, Qt::QueuedConnection);
}

void APIClient::persistActiveBaseURL()
{
    if (const auto text = std::exchange(m_unpersisted, std::nullopt))
        m_store.defaults()->set(AppGroupKey::activeBaseURL, *text);
}

QCoro::Task<APIClient::Answer> APIClient::raceHosts(Endpoint endpoint, CancellationToken token)
{
    QPointer<APIClient> self(this);
    const std::optional<QString> jwt = co_await tokenFor(endpoint);
    if (!self)
        throw CancellationError();
    token.throwIfCancelled();
    const QUrl activeAtStart = m_activeBaseURL;
    // The request is built before anything is sent: a missing token or a path that
    // cannot be sent fails the call with nothing on the wire.
    const QList<QUrl> urls = this->candidates();
    Request first = makeRequest(endpoint, urls.first(), jwt);
    QList<HostRace::Candidate> candidates;
    for (qsizetype i = 0; i < urls.size(); ++i)
        candidates.append({urls.at(i), sessionFor(i)});

    LaterPtr<HostRace> race(new HostRace(std::move(candidates), std::move(first), endpoint, m_options, token));
    race->start();
    co_await race->finished();
    if (!self)
        throw CancellationError();

    switch (race->result()) {
    case HostRace::Result::Won:
        if (race->winnerURL() != activeAtStart)
            promote(race->winnerURL());
        co_return answerFrom(race->winner());
    case HostRace::Result::AllFailed:
        throw APIError::network(race->lastError());
    case HostRace::Result::Cancelled:
        break;
    }
    throw CancellationError();
}

QCoro::Task<APIClient::Answer> APIClient::sendSequential(Endpoint endpoint, CancellationToken token)
{
    QPointer<APIClient> self(this);
    const std::optional<QString> jwt = co_await tokenFor(endpoint);
    if (!self || token.isCancelled())
        throw URLError(URLError::Cancelled);
    const QList<QUrl> urls = candidates();
    std::exception_ptr lastError = std::make_exception_ptr(URLError(URLError::NotConnectedToInternet));
    for (qsizetype i = 0; i < urls.size(); ++i) {
        const Request request = makeRequest(endpoint, urls.at(i), jwt);
        HttpSession *session = sessionFor(i);
        if (!session)
            throw URLError(URLError::Cancelled);
        std::optional<HttpResponse> response;
        try {
            response = co_await session->send(request.method, request.request, request.body, token,
                                              m_options.maxBodyBytes);
        } catch (const URLError &e) {
            if (e.code() == URLError::Cancelled || !self)
                throw;
            m_log.error(QStringLiteral("API host %1 failed (%2); trying next").arg(urls.at(i).host()).arg(int(e.code())));
            lastError = std::current_exception();
        }
        if (!self)
            throw URLError(URLError::Cancelled);
        if (!response)
            continue;
        if (!response->isHttp)
            throw APIError::server(-1);
        if (urls.at(i) != m_activeBaseURL)
            promote(urls.at(i));
        co_return answerFrom(*response);
    }
    throw APIError::network(lastError);
}

QCoro::Task<APIClient::Answer> APIClient::transport(const Endpoint &endpoint, CancellationToken token)
{
    if (endpoint.method() == "GET")
        return raceHosts(endpoint, std::move(token));
    return sendSequential(endpoint, std::move(token));
}

void APIClient::checkAnswer(const Answer &answer, const QString &label) const
{
    const int status = answer.statusCode;
    if (status >= 200 && status <= 299) {
        if (answer.bodyTooLarge) {
            failDecoding(label, std::make_exception_ptr(JsonDecodingError::dataCorrupted(
                                    {}, QStringLiteral("The reply body is larger than %1 bytes.").arg(m_options.maxBodyBytes))));
        }
        return;
    }
    switch (status) {
    case 401:
        throw APIError::unauthorized();
    case 409:
        throw APIError::conflict();
    case 410:
        throw APIError::gone();
    default:
        throw APIError::server(status);
    }
}

void APIClient::failDecoding(const QString &label, std::exception_ptr error) const
{
    m_log.error(QStringLiteral("decode %1 → %2").arg(label, describeDecodingError(error)));
    throw APIError::decoding(std::move(error));
}

} // namespace kovra

#include "APIClient.moc"
