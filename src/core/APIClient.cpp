#include "core/APIClient.h"

#include "platform/BuildInfo.h"

#include <QTimer>

#include <qcoro/qcorosignal.h>

namespace kovra {

namespace {

const char *const kBaseURLsVariable = "KOVRA_API_BASE_URLS";

QList<QUrl> builtInBaseURLs()
{
    return {QUrl(QStringLiteral("https://api1.kovra.example")), QUrl(QStringLiteral("https://api2.kovra.example")),
            QUrl(QStringLiteral("https://api3.kovra.example"))};
}

QString orUnknown(const char *value)
{
    const QString text = QString::fromUtf8(value);
    return text.isEmpty() ? QStringLiteral("unknown") : text;
}

// The working state of one host race. Candidate requests run as detached child
// tasks that report back here (always from the event loop, never from inside the
// call that launched them); stagger timers carry the launch number they belong to,
// so a timer outlived by a later launch is ignored.
class HostRace : public QObject {
    Q_OBJECT
public:
    struct Candidate {
        QUrl baseURL;
        HttpSession *session;
        APIClient::Request request;
    };
    enum class Result { Won, AllFailed, Cancelled };

    HostRace(QList<Candidate> candidates, std::chrono::milliseconds stagger, qint64 maxBodyBytes,
             const CancellationToken &caller)
        : m_candidates(std::move(candidates)), m_stagger(stagger), m_maxBodyBytes(maxBodyBytes), m_caller(caller),
          m_children(CancellationSource::linkedTo(caller)),
          m_lastError(std::make_exception_ptr(URLError(URLError::NotConnectedToInternet)))
    {
        caller.onCancel(this, [this] { decide(Result::Cancelled); });
    }

    ~HostRace() override { m_children.cancel(); }

    void start() { launch(); }

    bool isFinished() const { return m_finished; }
    Result result() const { return m_result; }
    const QUrl &winnerURL() const { return m_winnerURL; }
    const HttpResponse &winner() const { return m_winner; }
    const std::exception_ptr &lastError() const { return m_lastError; }

Q_SIGNALS:
    // The outcome is known and every candidate request has ended.
    void finished();

private:
    void launch()
    {
        if (m_decided || m_caller.isCancelled() || m_nextIndex >= m_candidates.size())
            return;
        const int index = m_nextIndex++;
        ++m_inFlight;
        ++m_running;
        const int generation = ++m_generation;
        if (m_nextIndex < m_candidates.size()) {
            QTimer::singleShot(m_stagger, this, [this, generation] {
                if (generation == m_generation)
                    launch();
            });
        }
        const Candidate &c = m_candidates.at(index);
        runCandidate(this, index, c.session, c.request, m_children.token(), m_maxBodyBytes);
    }

    static QCoro::Task<void> runCandidate(QPointer<HostRace> race, int index, HttpSession *session,
                                          APIClient::Request request, CancellationToken token, qint64 maxBodyBytes)
    {
        std::optional<HttpResponse> response;
        std::exception_ptr error;
        try {
            response = co_await session->send(request.method, request.request, request.body, token, maxBodyBytes);
        } catch (...) {
            error = std::current_exception();
        }
        if (race) {
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
        m_children.cancel();
        finishWhenIdle();
    }

    void finishWhenIdle()
    {
        if (m_decided && m_running == 0 && !m_finished) {
            m_finished = true;
            Q_EMIT finished();
        }
    }

    QList<Candidate> m_candidates;
    std::chrono::milliseconds m_stagger;
    qint64 m_maxBodyBytes;
    CancellationToken m_caller;
    CancellationSource m_children;
    int m_nextIndex = 0;
    int m_inFlight = 0;
    int m_running = 0;
    int m_generation = 0;
    std::optional<std::pair<int, HttpResponse>> m_firstServerAnswer; // the first 5xx received
    std::exception_ptr m_lastError;
    bool m_decided = false;
    bool m_finished = false;
    Result m_result = Result::AllFailed;
    QUrl m_winnerURL;
    HttpResponse m_winner;
};

} // namespace

APIClient::APIClient(HttpSession *session, std::shared_ptr<JWTProvider> jwtProvider, AppGroupStore store,
                     std::chrono::milliseconds stagger, qint64 maxBodyBytes, QObject *parent)
    : QObject(parent), m_session(session),
      m_fallbackSession(session == HttpSession::sharedDefault() ? HttpSession::sharedFallback() : session),
      m_activeBaseURL(restoreActiveBaseURL(*store.defaults()).value_or(baseURLs().first())),
      m_store(std::move(store)), m_jwtProvider(std::move(jwtProvider)), m_stagger(stagger),
      m_maxBodyBytes(maxBodyBytes)
{
}

APIClient::~APIClient() = default;

const QList<QUrl> &APIClient::baseURLs()
{
    static const QList<QUrl> urls = [] {
        const QByteArray text = qgetenv(kBaseURLsVariable);
        if (text.isEmpty())
            return builtInBaseURLs();
        if (auto parsed = parseBaseURLOverride(text))
            return *parsed;
        Logger(QStringLiteral("APIClient"))
            .error(QStringLiteral("KOVRA_API_BASE_URLS ignored: it must name exactly three http(s) base URLs, "
                                  "separated by commas"));
        return builtInBaseURLs();
    }();
    return urls;
}

const QString &APIClient::userAgent()
{
    static const QString text = QStringLiteral("KovraS/%1 (build %2; iOS; sing-box)")
                                    .arg(orUnknown(buildinfo::version()), orUnknown(buildinfo::number()));
    return text;
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

std::optional<QUrl> APIClient::restoreActiveBaseURL(const Defaults &defaults)
{
    const auto text = defaults.string(AppGroupKey::activeBaseURL);
    if (!text)
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid() || !baseURLs().contains(url))
        return std::nullopt;
    return url;
}

QList<QUrl> APIClient::fallbackBaseURLs(const QUrl &url)
{
    const QList<QUrl> &all = baseURLs();
    const qsizetype i = all.indexOf(url);
    if (i < 0)
        return all;
    QList<QUrl> after;
    for (qsizetype step = 1; step < all.size(); ++step)
        after.append(all.at((i + step) % all.size()));
    return after;
}

QList<QUrl> APIClient::candidates() const
{
    return QList<QUrl>{m_activeBaseURL} + fallbackBaseURLs(m_activeBaseURL);
}

QString APIClient::decodeLabel(const Endpoint &endpoint)
{
    return endpoint.kind() == Endpoint::Kind::poll ? QStringLiteral("/auth/poll/***") : endpoint.path();
}

APIClient::Request APIClient::makeRequest(const Endpoint &endpoint, const QUrl &baseURL) const
{
    Request r;
    r.method = endpoint.method();
    r.request = QNetworkRequest(endpoint.url(baseURL));
    r.request.setTransferTimeout(int(std::chrono::milliseconds(requestTimeout).count()));
    // The bearer token must not follow a redirect to another origin.
    r.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    r.request.setRawHeader("User-Agent", userAgent().toUtf8());
    r.request.setRawHeader("Content-Type", "application/json");
    r.request.setRawHeader("Accept", "application/json");
    if (endpoint.requiresAuth()) {
        const std::optional<QString> token = m_jwtProvider ? m_jwtProvider->currentJWT() : std::nullopt;
        if (!token || token->isEmpty())
            throw APIError::unauthorized();
        r.request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    }
    r.body = endpoint.body().value_or(QByteArray());
    return r;
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
    m_store.defaults()->set(AppGroupKey::activeBaseURL, url.toString());
    m_log.info(QStringLiteral("promoted API host to %1").arg(url.host()));
}

QCoro::Task<APIClient::Answer> APIClient::raceHosts(Endpoint endpoint, CancellationToken token)
{
    QPointer<APIClient> self(this);
    const QUrl activeAtStart = m_activeBaseURL;
    // Every request is built before the first is sent: a missing token fails the call
    // with nothing on the wire.
    QList<HostRace::Candidate> candidates;
    for (const QUrl &url : this->candidates())
        candidates.append({url, candidates.isEmpty() ? m_session : m_fallbackSession, makeRequest(endpoint, url)});

    LaterPtr<HostRace> race(new HostRace(std::move(candidates), m_stagger, m_maxBodyBytes, token));
    race->start();
    if (!race->isFinished())
        co_await qCoro(race.get(), &HostRace::finished);
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
    const QList<QUrl> urls = candidates();
    std::exception_ptr lastError = std::make_exception_ptr(URLError(URLError::NotConnectedToInternet));
    for (qsizetype i = 0; i < urls.size(); ++i) {
        const Request request = makeRequest(endpoint, urls.at(i));
        HttpSession *session = i == 0 ? m_session : m_fallbackSession;
        std::optional<HttpResponse> response;
        try {
            response = co_await session->send(request.method, request.request, request.body, token, m_maxBodyBytes);
        } catch (const URLError &e) {
            if (e.code() == URLError::Cancelled || !self)
                throw;
            m_log.error(QStringLiteral("API host %1 failed (%2); trying next").arg(urls.at(i).host()).arg(int(e.code())));
            lastError = std::current_exception();
        }
        if (!self)
            throw CancellationError();
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
                                    {}, QStringLiteral("The reply body is larger than %1 bytes.").arg(m_maxBodyBytes))));
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
