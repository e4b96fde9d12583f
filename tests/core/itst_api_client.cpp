#include "core/APIClient.h"
#include "platform/BuildInfo.h"

#include <QRegularExpression>
#include <QTest>

#include "support/Await.h"
#include "support/ErrorText.h"
#include "support/FakeService.h"
#include "support/FixedTokenProvider.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)
Q_DECLARE_METATYPE(kovra::Endpoint)

namespace {

const QString kToken = QStringLiteral("tok-123");

// "<status> <body>" of the answer, or the error's text.
QString outcomeText(QCoro::Task<APIClient::Answer> task)
{
    try {
        const APIClient::Answer answer = test::await(std::move(task));
        return QString::number(answer.statusCode) + u' ' + QString::fromUtf8(answer.body);
    } catch (...) {
        return errorText(std::current_exception());
    }
}

QCoro::Task<APIClient::Answer> sendThrough(APIClient &client, const Endpoint &endpoint)
{
    return endpoint.method() == "GET" ? client.raceHosts(endpoint) : client.sendSequential(endpoint);
}

// What the store holds under the active base URL key when the race's answer reaches its caller.
QCoro::Task<QString> storedWhenAnswered(APIClient *client, std::shared_ptr<Defaults> defaults)
{
    co_await client->raceHosts(Endpoint::me());
    co_return defaults->string(AppGroupKey::activeBaseURL).value_or(QStringLiteral("nothing"));
}

} // namespace

class APIClientTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeService> m_fake;
    QList<QUrl> m_urls;
    std::shared_ptr<Defaults> m_defaults;
    std::shared_ptr<FixedTokenProvider> m_token;
    HttpSession m_session{HttpSession::Kind::Default, 10s};
    HttpSession m_fallback{HttpSession::Kind::Ephemeral, 10s};

    // Over the test's two sessions, or over `only` for every candidate.
    std::unique_ptr<APIClient> makeClient(std::chrono::milliseconds stagger = 200ms, HttpSession *only = nullptr)
    {
        const APIClient::Sessions sessions = only ? APIClient::Sessions{only, only} : APIClient::Sessions{&m_session, &m_fallback};
        return std::make_unique<APIClient>(sessions, m_urls, m_token, AppGroupStore(m_defaults, nullptr),
                                           APIClient::Options{stagger});
    }

    void scriptHosts(const QByteArray &method, const QString &path, const QList<FakeReply> &replies)
    {
        for (int host = 0; host < replies.size(); ++host)
            m_fake->script(host, method, path, {replies.at(host)});
    }

    // The hosts that saw a request, each once, in the order of their first request.
    QList<int> hostsContacted() const
    {
        QList<int> hosts;
        for (const auto &r : m_fake->requests()) {
            if (!hosts.contains(r.host))
                hosts.append(r.host);
        }
        return hosts;
    }

    qint64 firstRequestAt(int host) const
    {
        for (const auto &r : m_fake->requests()) {
            if (r.host == host)
                return r.atMs;
        }
        return -1;
    }

    std::optional<QString> persisted() const { return m_defaults->string(AppGroupKey::activeBaseURL); }

private Q_SLOTS:
    void initTestCase()
    {
        m_fake = std::make_unique<FakeService>();
        m_urls = m_fake->baseURLs();
    }

    void init()
    {
        m_fake->reset();
        m_defaults = Defaults::inMemory();
        m_token = std::make_shared<FixedTokenProvider>(kToken);
    }

    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void cleanupTestCase() { m_fake.reset(); }

    // GET races the hosts, POST tries one after another.
    void transport_data()
    {
        QTest::addColumn<bool>("race");
        QTest::addColumn<int>("stored"); // the stored base URL; -1: none
        QTest::addColumn<QList<FakeReply>>("replies");
        QTest::addColumn<int>("staggerMs");
        QTest::addColumn<int>("timeoutMs"); // 0: the test's two sessions
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QList<int>>("contacted");
        QTest::addColumn<QStringList>("failures"); // the "API host … failed" lines
        QTest::addColumn<int>("active"); // the active and stored base URL after the send; -1: the first, none stored

        const auto ok = [](const char *body, std::chrono::milliseconds delay = {}) {
            return FakeReply::json(200, body, delay);
        };
        const FakeReply silent = FakeReply::silent(), close = FakeReply::close();
        const QString failed = QStringLiteral("API host 127.0.0.1 failed (%1); trying next");
        const QStringList none;
        QTest::newRow("race: active answers 404 within the stagger")
            << true << -1 << QList{FakeReply::json(404, "nf", 50ms), ok("b"), ok("c")} << 3000 << 0 << "404 nf"
            << QList{0} << none << -1;
        QTest::newRow("race: 503 at once, second answers 200")
            << true << -1 << QList{FakeReply::json(503, "a", 100ms), ok("b", 200ms), ok("c")} << 3000 << 0 << "200 b"
            << QList{0, 1} << none << 1;
        QTest::newRow("race: all 502, the first one received wins")
            << true << -1 << QList{FakeReply::json(502, "a", 1500ms), FakeReply::json(502, "b"), FakeReply::json(502, "c")}
            << 200 << 0 << "502 b" << QList{0, 1, 2} << none << 1;
        QTest::newRow("race: a failure starts the next at once")
            << true << -1 << QList{close, ok("b"), ok("c")} << 60000 << 0 << "200 b" << QList{0, 1} << none << 1;
        QTest::newRow("race: silent active, second answers after one stagger")
            << true << -1 << QList{silent, ok("b"), ok("c")} << 500 << 0 << "200 b" << QList{0, 1} << none << 1;
        QTest::newRow("race: every candidate times out")
            << true << -1 << QList{silent, silent, silent} << 100 << 300 << "network -1001" << QList{0, 1, 2} << none
            << -1;
        QTest::newRow("race: stored second, the ring goes on to the first")
            << true << 1 << QList{ok("a"), close, close} << 60000 << 0 << "200 a" << QList{0, 1, 2} << none << 0;
        QTest::newRow("sequential: first host's 500 is the answer")
            << false << -1 << QList{FakeReply::json(500, "a"), ok("b"), ok("c")} << 200 << 0 << "500 a" << QList{0}
            << none << -1;
        QTest::newRow("sequential: a time-out moves on")
            << false << -1 << QList{silent, FakeReply::json(201, "b"), ok("c")} << 200 << 300 << "201 b" << QList{0, 1}
            << QStringList{failed.arg(-1001)} << 1;
        // Candidates start at the stored base URL and go round the ring.
        QTest::newRow("sequential: every host fails, from the stored third")
            << false << 2 << QList{close, close, close} << 200 << 0 << "network -1005" << QList{2, 0, 1}
            << QStringList(3, failed.arg(-1005)) << 2;
    }
    void transport()
    {
        QFETCH(bool, race);
        QFETCH(int, stored);
        QFETCH(QList<FakeReply>, replies);
        QFETCH(int, staggerMs);
        QFETCH(int, timeoutMs);
        QFETCH(QString, outcome);
        QFETCH(QList<int>, contacted);
        QFETCH(QStringList, failures);
        QFETCH(int, active);
        if (stored >= 0)
            m_defaults->set(AppGroupKey::activeBaseURL, m_urls[stored].toString());
        const Endpoint endpoint = race ? Endpoint::me() : Endpoint::starsInvoice(QStringLiteral("m1"));
        scriptHosts(endpoint.method(), endpoint.path(), replies);
        HttpSession own(HttpSession::Kind::Default, std::chrono::milliseconds(timeoutMs));
        auto client = makeClient(std::chrono::milliseconds(staggerMs), timeoutMs ? &own : nullptr);
        QCOMPARE(client->activeBaseURL(), m_urls[std::max(stored, 0)]);
        LogCapture log;

        QCOMPARE(outcomeText(sendThrough(*client, endpoint)), outcome);
        QTest::qWait(50);
        QList<int> hosts = hostsContacted();
        if (race) // racing candidates may overlap; which hosts matters, not their order
            std::sort(hosts.begin(), hosts.end());
        QCOMPARE(hosts, contacted);
        const QStringList lines = log.texts(QStringLiteral("APIClient"));
        QCOMPARE(lines.filter(QRegularExpression("^API host")), failures);
        QCOMPARE(client->activeBaseURL(), m_urls[std::max(active, 0)]);
        QCOMPARE(persisted(), active >= 0 ? std::optional(m_urls[active].toString()) : std::nullopt);
        QCOMPARE(!lines.filter(QStringLiteral("promoted API host to 127.0.0.1")).isEmpty(), active >= 0 && active != stored);
        QCOMPARE(makeClient()->activeBaseURL(), m_urls[std::max(active, 0)]); // the next client starts there
    }

    void staggeredStarts_data()
    {
        QTest::addColumn<FakeReply>("first");
        QTest::addColumn<int>("staggerMs");
        QTest::addColumn<int>("minSecondMs"); // least time between the first and second request
        QTest::addColumn<int>("minThirdMs");  // least time between the second and third
        QTest::newRow("silent hosts: one stagger each") << FakeReply::silent() << 300 << 225 << 225;
        // The timer started with the first candidate is outlived by the relaunch after its
        // failure; the third candidate waits a full stagger after the second.
        QTest::newRow("a failure restarts the stagger") << FakeReply::close(300ms) << 1000 << 250 << 850;
    }
    void staggeredStarts()
    {
        QFETCH(FakeReply, first);
        QFETCH(int, staggerMs);
        QFETCH(int, minSecondMs);
        QFETCH(int, minThirdMs);
        scriptHosts("GET", QStringLiteral("/regions"), {first, FakeReply::silent(), FakeReply::json(200, "[]")});
        auto client = makeClient(std::chrono::milliseconds(staggerMs));

        QCOMPARE(outcomeText(client->raceHosts(Endpoint::regions())), QStringLiteral("200 []"));
        QCOMPARE(hostsContacted(), (QList{0, 1, 2}));
        const qint64 second = firstRequestAt(1) - firstRequestAt(0), third = firstRequestAt(2) - firstRequestAt(1);
        QVERIFY2(second >= minSecondMs, qPrintable(QString::number(second)));
        QVERIFY2(third >= minThirdMs, qPrintable(QString::number(third)));
        // The winner ends the race: the silent second host is closed.
        QVERIFY(m_fake->waitForClosedEarly(1));
    }

    // The first host cuts its connection off at 800 ms, and would cut Qt's resend of the
    // request off 800 ms later: the second host starts at the first cut-off.
    void cutOffStartsTheNextAtOnce()
    {
        scriptHosts("GET", QStringLiteral("/regions"), {FakeReply::close(800ms), FakeReply::json(200, "[]")});
        auto client = makeClient(10s);
        QCOMPARE(outcomeText(client->raceHosts(Endpoint::regions())), QStringLiteral("200 []"));
        const qint64 second = firstRequestAt(1) - firstRequestAt(0);
        QVERIFY2(second >= 700 && second < 1500, qPrintable(QString::number(second)));
    }

    void requestsCarryTheirHeaders_data()
    {
        QTest::addColumn<Endpoint>("e");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("bearer");
        QTest::newRow("GET with token") << Endpoint::me() << QByteArray() << true;
        QTest::newRow("POST with body and token")
            << Endpoint::starsInvoice("m1") << QByteArray(R"({"plan_id":"m1"})") << true;
        QTest::newRow("POST without body or token") << Endpoint::startSession() << QByteArray() << false;
    }
    void requestsCarryTheirHeaders()
    {
        QFETCH(Endpoint, e);
        QFETCH(QByteArray, body);
        QFETCH(bool, bearer);
        m_fake->script(FakeService::anyHost, e.method(), e.path(), {FakeReply::json(200, "{}")});
        auto client = makeClient();
        QCOMPARE(outcomeText(sendThrough(*client, e)), QStringLiteral("200 {}"));

        QCOMPARE(m_fake->requests().size(), 1);
        const RecordedRequest r = m_fake->requests()[0];
        QCOMPARE(r.method, e.method());
        QCOMPARE(r.path, e.path());
        const QString version = *buildinfo::version() ? QString::fromUtf8(buildinfo::version()) : "unknown";
        const QString build = *buildinfo::number() ? QString::fromUtf8(buildinfo::number()) : "unknown";
        QCOMPARE(QString::fromUtf8(r.header("User-Agent")),
                 QStringLiteral("KovraS/%1 (build %2; iOS; sing-box)").arg(version, build));
        QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(r.header("Accept"), QByteArray("application/json"));
        QCOMPARE(r.header("Authorization"), bearer ? "Bearer " + kToken.toUtf8() : QByteArray());
        QCOMPARE(r.body, body);
        QCOMPARE(m_token->reads, bearer ? 1 : 0);
    }

    // The token is read once per call and handed to every candidate; it is read again
    // on the next call, never kept.
    void tokenIsReadOncePerCall()
    {
        scriptHosts("GET", QStringLiteral("/me"),
                    {FakeReply::json(503, "a"), FakeReply::json(503, "b"), FakeReply::json(200, "c")});
        auto client = makeClient(5s);
        QCOMPARE(outcomeText(client->raceHosts(Endpoint::me())), QStringLiteral("200 c"));
        QCOMPARE(m_token->reads, 1);
        QCOMPARE(m_fake->requestCount(), 3);
        for (const auto &r : m_fake->requests())
            QCOMPARE(r.header("Authorization"), "Bearer " + kToken.toUtf8());

        m_token->token = QStringLiteral("tok-new");
        QCOMPARE(outcomeText(client->raceHosts(Endpoint::me())), QStringLiteral("200 c"));
        QCOMPARE(m_token->reads, 2);
        QCOMPARE(m_fake->requests().last().header("Authorization"), QByteArray("Bearer tok-new"));
    }

    // Refused calls end before anything is sent, as APIErrors.
    void refusedBeforeSending_data()
    {
        QTest::addColumn<Endpoint>("endpoint");
        QTest::addColumn<QString>("token"); // null: none at all
        QTest::addColumn<QString>("outcome");
        QTest::newRow("race without token") << Endpoint::me() << QString() << "401 unauthorized";
        QTest::newRow("sequential without token") << Endpoint::starsInvoice("m1") << QString() << "401 unauthorized";
        QTest::newRow("empty token") << Endpoint::subscription() << QStringLiteral("") << "401 unauthorized";
        // A path parameter that cannot be one segment would address another resource.
        QTest::newRow("path parameter refused") << Endpoint::wakeRegion("..") << kToken << "network -1002";
        QTest::newRow("path parameter refused, poll") << Endpoint::poll(".") << QString() << "network -1002";
    }
    void refusedBeforeSending()
    {
        QFETCH(Endpoint, endpoint);
        QFETCH(QString, token);
        QFETCH(QString, outcome);
        m_token->token = token.isNull() ? std::nullopt : std::optional<QString>(token);
        auto client = makeClient(10ms);
        QCOMPARE(outcomeText(sendThrough(*client, endpoint)), outcome);
        QTest::qWait(100);
        QCOMPARE(m_fake->requestCount(), 0);
    }

    // The promotion is made at once; its defaults write follows the answer.
    void promotionIsPersistedAfterTheAnswer()
    {
        scriptHosts("GET", QStringLiteral("/me"), {FakeReply::close(), FakeReply::json(200, "{}")});
        auto client = makeClient();
        QCOMPARE(test::await(storedWhenAnswered(client.get(), m_defaults)), QStringLiteral("nothing"));
        QCOMPARE(client->activeBaseURL(), m_urls[1]);
        QTRY_COMPARE(persisted(), std::optional(m_urls[1].toString()));
    }

    void baseURLsFromTheOverride_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("accepted");
        QTest::newRow("three URLs") << QByteArray("https://a.test,http://127.0.0.1:8080/api, https://c.test") << 3;
        QTest::newRow("two URLs") << QByteArray("https://a.test,https://b.test") << 0;
        QTest::newRow("repeated") << QByteArray("https://a.test,https://a.test,https://c.test") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
    }
    void baseURLsFromTheOverride()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, accepted);
        LogCapture log;
        const QList<QUrl> urls = APIClient::baseURLsFor(text);
        QCOMPARE(urls.size(), 3);
        QCOMPARE(urls == APIClient::builtInBaseURLs(), accepted == 0);
        QCOMPARE(log.texts(QStringLiteral("APIClient")).size(), accepted == 0 && !text.isEmpty() ? 1 : 0);
    }

    void cancellingARaceAbortsItsRequests()
    {
        scriptHosts("GET", QStringLiteral("/entries"),
                    {FakeReply::silent(), FakeReply::silent(), FakeReply::json(200, "[]")});
        auto client = makeClient(300ms);
        CancellationSource source;
        test::Pending<APIClient::Answer> pending(client->raceHosts(Endpoint::entries(), source.token()));
        QVERIFY(m_fake->waitForRequests(2));
        source.cancel();

        QVERIFY(pending.waitDone());
        QVERIFY(isCancellation(pending.error()));
        QVERIFY(m_fake->waitForClosedEarly(2));
        QTest::qWait(700); // past the next stagger: no third candidate starts
        QCOMPARE(m_fake->requestCount(), 2);
        QCOMPARE(persisted(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(APIClientTest)
#include "itst_api_client.moc"
