#include "core/APIClient.h"

#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"
#include "support/FixedTokenProvider.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)

namespace {

// What a transport call ended with, as one comparable text: "<status> <body>",
// "network <code of the last URL error>", "cancelled", "url <code>", or the
// description of any other APIError ("401 unauthorized", "server -1").
QString outcomeText(QCoro::Task<APIClient::Answer> task)
{
    try {
        const APIClient::Answer answer = test::await(std::move(task));
        return QString::number(answer.statusCode) + u' ' + QString::fromUtf8(answer.body);
    } catch (const APIError &e) {
        if (e.kind() != APIError::Kind::network)
            return e.description();
        try {
            std::rethrow_exception(e.underlyingError());
        } catch (const URLError &u) {
            return QStringLiteral("network %1").arg(int(u.code()));
        } catch (...) {
            return QStringLiteral("network ?");
        }
    } catch (const CancellationError &) {
        return QStringLiteral("cancelled");
    } catch (const URLError &e) {
        return QStringLiteral("url %1").arg(int(e.code()));
    }
}

const QString kToken = QStringLiteral("tok-123");

// Endpoints named in test tables.
Endpoint endpointNamed(const QString &name)
{
    if (name == u"me")
        return Endpoint::me();
    if (name == u"subscription")
        return Endpoint::subscription();
    if (name == u"starsInvoice")
        return Endpoint::starsInvoice(QStringLiteral("m1"));
    return Endpoint::startSession();
}

} // namespace

class APIClientTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakeService> m_fake;
    QList<QUrl> m_urls;

    std::unique_ptr<APIClient> makeClient(HttpSession *session, std::chrono::milliseconds stagger = 200ms,
                                          std::optional<QString> token = kToken)
    {
        return std::make_unique<APIClient>(session, std::make_shared<FixedTokenProvider>(std::move(token)),
                                           AppGroupStore(), stagger);
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

    std::optional<QString> persisted() const { return sharedGroupDefaults()->string(AppGroupKey::activeBaseURL); }

private Q_SLOTS:
    void initTestCase()
    {
        m_home = std::make_unique<TestHome>();
        m_fake = std::make_unique<FakeService>();
        qputenv("KOVRA_API_BASE_URLS", m_fake->baseURLsText());
        m_urls = m_fake->baseURLs();
        QCOMPARE(APIClient::baseURLs(), m_urls);
    }

    void init()
    {
        m_fake->reset();
        sharedGroupDefaults()->remove(AppGroupKey::activeBaseURL);
    }

    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void cleanupTestCase()
    {
        m_fake.reset();
        m_home.reset();
    }

    void race_data()
    {
        QTest::addColumn<QList<FakeReply>>("replies");
        QTest::addColumn<int>("staggerMs");
        QTest::addColumn<int>("timeoutMs"); // 0: the shared sessions
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QList<int>>("contacted");
        QTest::addColumn<int>("promoted"); // -1: none

        const auto ok = [](const char *body, std::chrono::milliseconds delay = {}) {
            return FakeReply::json(200, body, delay);
        };
        QTest::newRow("active answers 404 within the stagger")
            << QList{FakeReply::json(404, "nf", 50ms), ok("b"), ok("c")} << 3000 << 0 << "404 nf" << QList{0} << -1;
        QTest::newRow("503 at once, second answers 200")
            << QList{FakeReply::json(503, "a", 100ms), ok("b", 200ms), ok("c")} << 3000 << 0 << "200 b"
            << QList{0, 1} << 1;
        QTest::newRow("all 502: the first one received wins")
            << QList{FakeReply::json(502, "a", 1500ms), FakeReply::json(502, "b"), FakeReply::json(502, "c")} << 200
            << 0 << "502 b" << QList{0, 1, 2} << 1;
        QTest::newRow("a failure starts the next at once")
            << QList{FakeReply::close(), ok("b"), ok("c")} << 60000 << 0 << "200 b" << QList{0, 1} << 1;
        QTest::newRow("fails, times out, third answers")
            << QList{FakeReply::close(), FakeReply::silent(), ok("c")} << 60000 << 500 << "200 c" << QList{0, 1, 2}
            << 2;
        QTest::newRow("silent active, second answers after one stagger")
            << QList{FakeReply::silent(), ok("b"), ok("c")} << 500 << 0 << "200 b" << QList{0, 1} << 1;
        QTest::newRow("every candidate times out")
            << QList{FakeReply::silent(), FakeReply::silent(), FakeReply::silent()} << 100 << 300 << "network -1001"
            << QList{0, 1, 2} << -1;
    }
    void race()
    {
        QFETCH(QList<FakeReply>, replies);
        QFETCH(int, staggerMs);
        QFETCH(int, timeoutMs);
        QFETCH(QString, outcome);
        QFETCH(QList<int>, contacted);
        QFETCH(int, promoted);
        scriptHosts("GET", QStringLiteral("/me"), replies);
        HttpSession own(HttpSession::Kind::Default, std::chrono::milliseconds(timeoutMs));
        auto client = makeClient(timeoutMs ? &own : HttpSession::sharedDefault(), std::chrono::milliseconds(staggerMs));
        LogCapture log;

        QCOMPARE(outcomeText(client->raceHosts(Endpoint::me())), outcome);
        QTest::qWait(50);
        QList<int> hosts = hostsContacted();
        std::sort(hosts.begin(), hosts.end());
        QCOMPARE(hosts, contacted);

        const QUrl active = promoted >= 0 ? m_urls[promoted] : m_urls[0];
        QCOMPARE(client->activeBaseURL(), active);
        QCOMPARE(persisted(), promoted >= 0 ? std::optional(active.toString()) : std::nullopt);
        QCOMPARE(log.contains(QStringLiteral("promoted API host to 127.0.0.1")), promoted >= 0);
        QCOMPARE(makeClient(&own)->activeBaseURL(), active); // the next client starts there
    }

    void staggeredStarts_data()
    {
        QTest::addColumn<FakeReply>("first");
        QTest::addColumn<int>("staggerMs");
        QTest::addColumn<int>("minSecondMs"); // least time between the first and second request
        QTest::addColumn<int>("minThirdMs");  // and between the second and third
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
        auto client = makeClient(HttpSession::sharedDefault(), std::chrono::milliseconds(staggerMs));

        QCOMPARE(outcomeText(client->raceHosts(Endpoint::regions())), QStringLiteral("200 []"));
        QCOMPARE(hostsContacted(), (QList{0, 1, 2}));
        const auto requests = m_fake->requests();
        const auto firstAt = [&](int host) {
            return std::find_if(requests.begin(), requests.end(), [&](const auto &r) { return r.host == host; })->atMs;
        };
        // Lower bounds only: a candidate never starts before its stagger has run.
        QVERIFY2(firstAt(1) - firstAt(0) >= minSecondMs, qPrintable(QString::number(firstAt(1) - firstAt(0))));
        QVERIFY2(firstAt(2) - firstAt(1) >= minThirdMs, qPrintable(QString::number(firstAt(2) - firstAt(1))));
        // The winner ends the race: the silent second host is closed.
        QVERIFY(m_fake->waitForClosedEarly(1));
    }

    void sequential_data()
    {
        QTest::addColumn<QList<FakeReply>>("replies");
        QTest::addColumn<int>("timeoutMs"); // 0: the shared sessions
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QList<int>>("contacted");
        QTest::addColumn<QStringList>("logged");
        QTest::addColumn<int>("promoted");

        const QString failed = QStringLiteral("API host 127.0.0.1 failed (%1); trying next");
        const FakeReply ok = FakeReply::json(200, "c");
        QTest::newRow("first host's 500 is the answer")
            << QList{FakeReply::json(500, "a"), ok, ok} << 0 << "500 a" << QList{0} << QStringList() << -1;
        QTest::newRow("a time-out moves on")
            << QList{FakeReply::silent(), FakeReply::json(201, "b"), ok} << 300 << "201 b" << QList{0, 1}
            << QStringList{failed.arg(-1001)} << 1;
        QTest::newRow("a closed connection moves on")
            << QList{FakeReply::close(), FakeReply::json(200, "b"), ok} << 0 << "200 b" << QList{0, 1}
            << QStringList{failed.arg(-1005)} << 1;
        QTest::newRow("every host fails")
            << QList{FakeReply::close(), FakeReply::close(), FakeReply::close()} << 0 << "network -1005"
            << QList{0, 1, 2} << QStringList{failed.arg(-1005), failed.arg(-1005), failed.arg(-1005)} << -1;
    }
    void sequential()
    {
        QFETCH(QList<FakeReply>, replies);
        QFETCH(int, timeoutMs);
        QFETCH(QString, outcome);
        QFETCH(QList<int>, contacted);
        QFETCH(QStringList, logged);
        QFETCH(int, promoted);
        scriptHosts("POST", QStringLiteral("/payment/stars/invoice"), replies);
        HttpSession own(HttpSession::Kind::Default, std::chrono::milliseconds(timeoutMs));
        auto client = makeClient(timeoutMs ? &own : HttpSession::sharedDefault());
        LogCapture log;

        QCOMPARE(outcomeText(client->sendSequential(Endpoint::starsInvoice(QStringLiteral("m1")))), outcome);
        QCOMPARE(hostsContacted(), contacted);
        QStringList failures = log.texts(QStringLiteral("APIClient"));
        failures.removeIf([](const QString &line) { return !line.startsWith(u"API host"); });
        QCOMPARE(failures, logged);
        QCOMPARE(client->activeBaseURL(), promoted >= 0 ? m_urls[promoted] : m_urls[0]);
        QCOMPARE(persisted(), promoted >= 0 ? std::optional(m_urls[promoted].toString()) : std::nullopt);
    }

    void requestsCarryTheirHeaders_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("bearer");
        QTest::newRow("GET with token") << "me" << QByteArray() << true;
        QTest::newRow("POST with body and token") << "starsInvoice" << QByteArray(R"({"plan_id":"m1"})") << true;
        QTest::newRow("POST without body or token") << "startSession" << QByteArray() << false;
    }
    void requestsCarryTheirHeaders()
    {
        QFETCH(QString, name);
        const Endpoint endpoint = endpointNamed(name);
        QFETCH(QByteArray, body);
        QFETCH(bool, bearer);
        m_fake->script(FakeService::anyHost, endpoint.method(), endpoint.path(), {FakeReply::json(200, "{}")});
        auto client = makeClient(HttpSession::sharedDefault());
        auto task = endpoint.method() == "GET" ? client->raceHosts(endpoint) : client->sendSequential(endpoint);
        QCOMPARE(outcomeText(std::move(task)), QStringLiteral("200 {}"));

        QCOMPARE(m_fake->requests().size(), 1);
        const RecordedRequest r = m_fake->requests()[0];
        QCOMPARE(r.method, endpoint.method());
        QCOMPARE(r.path, endpoint.path());
        const QString version = QStringLiteral(KOVRA_VERSION).isEmpty() ? "unknown" : KOVRA_VERSION;
        const QString build = QStringLiteral(KOVRA_BUILD_NUMBER).isEmpty() ? "unknown" : KOVRA_BUILD_NUMBER;
        QCOMPARE(QString::fromUtf8(r.header("User-Agent")),
                 QStringLiteral("KovraS/%1 (build %2; iOS; sing-box)").arg(version, build));
        QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(r.header("Accept"), QByteArray("application/json"));
        QCOMPARE(r.header("Authorization"), bearer ? "Bearer " + kToken.toUtf8() : QByteArray());
        QCOMPARE(r.body, body);
    }

    void missingTokenSendsNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("token"); // null: none at all
        QTest::newRow("race") << "me" << QString();
        QTest::newRow("sequential") << "starsInvoice" << QString();
        QTest::newRow("empty token") << "subscription" << QStringLiteral("");
    }
    void missingTokenSendsNothing()
    {
        QFETCH(QString, name);
        const Endpoint endpoint = endpointNamed(name);
        QFETCH(QString, token);
        auto client = makeClient(HttpSession::sharedDefault(), 10ms,
                                 token.isNull() ? std::nullopt : std::optional<QString>(token));
        auto task = endpoint.method() == "GET" ? client->raceHosts(endpoint) : client->sendSequential(endpoint);
        QCOMPARE(outcomeText(std::move(task)), QStringLiteral("401 unauthorized"));
        QTest::qWait(100);
        QCOMPARE(m_fake->requestCount(), 0);
    }

    void cancellingARaceAbortsItsRequests()
    {
        scriptHosts("GET", QStringLiteral("/entries"),
                    {FakeReply::silent(), FakeReply::silent(), FakeReply::json(200, "[]")});
        auto client = makeClient(HttpSession::sharedDefault(), 300ms);
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

    void cancellingASequentialSendAbortsIt()
    {
        scriptHosts("POST", QStringLiteral("/auth/start_session"),
                    {FakeReply::silent(), FakeReply::json(200, "{}"), FakeReply::json(200, "{}")});
        auto client = makeClient(HttpSession::sharedDefault());
        CancellationSource source;
        test::Pending<APIClient::Answer> pending(client->sendSequential(Endpoint::startSession(), source.token()));
        QVERIFY(m_fake->waitForRequests(1));
        source.cancel();

        QVERIFY(pending.waitDone());
        try {
            std::rethrow_exception(pending.error());
        } catch (const URLError &e) {
            QCOMPARE(e.code(), URLError::Cancelled);
        } catch (...) {
            QFAIL("expected the cancelled URL error");
        }
        QVERIFY(m_fake->waitForClosedEarly(1));
        QTest::qWait(100);
        QCOMPARE(m_fake->requestCount(), 1);
    }

    void candidateOrderFollowsTheStoredBaseURL_data()
    {
        QTest::addColumn<QString>("stored"); // "#1" stands for the second base URL
        QTest::addColumn<QList<int>>("order");
        QTest::newRow("nothing stored") << QString() << QList{0, 1, 2};
        QTest::newRow("second") << "#1" << QList{1, 2, 0};
        QTest::newRow("third") << "#2" << QList{2, 0, 1};
        QTest::newRow("a URL of another build") << "https://api.elsewhere.example" << QList{0, 1, 2};
        QTest::newRow("not a URL") << "::%%not a url" << QList{0, 1, 2};
    }
    void candidateOrderFollowsTheStoredBaseURL()
    {
        QFETCH(QString, stored);
        QFETCH(QList<int>, order);
        if (stored.startsWith(u'#'))
            stored = m_urls[stored.mid(1).toInt()].toString();
        if (!stored.isNull())
            sharedGroupDefaults()->set(AppGroupKey::activeBaseURL, stored);
        scriptHosts("POST", QStringLiteral("/auth/start_session"),
                    {FakeReply::close(), FakeReply::close(), FakeReply::close()});
        auto client = makeClient(HttpSession::sharedDefault());

        QCOMPARE(client->activeBaseURL(), m_urls[order[0]]);
        QCOMPARE(outcomeText(client->sendSequential(Endpoint::startSession())), QStringLiteral("network -1005"));
        QCOMPARE(hostsContacted(), order);
    }

    void onlyTheSharedSessionHandsFallbacksToAnother_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::newRow("shared default session") << true;
        QTest::newRow("own session") << false;
    }
    void onlyTheSharedSessionHandsFallbacksToAnother()
    {
        // A cookie set through the first session shows which session later candidates use:
        // the shared fallback session is ephemeral and never sends it.
        QFETCH(bool, shared);
        HttpSession own(HttpSession::Kind::Default, 5s);
        auto client = makeClient(shared ? HttpSession::sharedDefault() : &own, 200ms);
        FakeReply withCookie = FakeReply::json(200, "{}");
        withCookie.headers = {{"Set-Cookie", "probe=1; Path=/"}};
        m_fake->script(0, "GET", QStringLiteral("/me"), {withCookie, FakeReply::silent()});
        m_fake->script(1, "GET", QStringLiteral("/me"), {FakeReply::json(200, "{}")});

        QCOMPARE(outcomeText(client->raceHosts(Endpoint::me())), QStringLiteral("200 {}"));
        QCOMPARE(outcomeText(client->raceHosts(Endpoint::me())), QStringLiteral("200 {}"));
        const auto requests = m_fake->requests();
        QCOMPARE(requests.size(), 3);
        QVERIFY(requests[1].hasHeader("Cookie"));
        QCOMPARE(requests[2].host, 1);
        QCOMPARE(requests[2].hasHeader("Cookie"), !shared);
    }

    void baseURLOverride_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("three") << QByteArray("https://a.example,https://b.example/api,http://127.0.0.1:8080") << true;
        QTest::newRow("spaces around commas") << QByteArray("https://a.example , https://b.example ,https://c.example")
                                              << true;
        QTest::newRow("two") << QByteArray("https://a.example,https://b.example") << false;
        QTest::newRow("four") << QByteArray("https://a.example,https://b.example,https://c.example,https://d.example")
                              << false;
        QTest::newRow("another scheme") << QByteArray("https://a.example,ftp://b.example,https://c.example") << false;
        QTest::newRow("no host") << QByteArray("https://a.example,https://,https://c.example") << false;
        QTest::newRow("repeated") << QByteArray("https://a.example,https://a.example,https://c.example") << false;
        QTest::newRow("empty piece") << QByteArray("https://a.example,,https://c.example") << false;
    }
    void baseURLOverride()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, accepted);
        const auto urls = APIClient::parseBaseURLOverride(text);
        QCOMPARE(urls.has_value(), accepted);
        if (accepted)
            QCOMPARE(urls->first(), QUrl(QString::fromUtf8(text.split(',').first()).trimmed()));
    }
};

QTEST_GUILESS_MAIN(APIClientTest)
#include "itst_api_client.moc"
