#include "core/APIClient.h"
#include "platform/BuildInfo.h"

#include <QRegularExpression>
#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"
#include "support/FixedTokenProvider.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)
Q_DECLARE_METATYPE(kovra::Endpoint)

namespace {

// What a transport call ended with, as one comparable text: "<status> <body>",
// "network <code of the last URL error>", or the description of any other APIError.
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
    }
}

const QString kToken = QStringLiteral("tok-123");

QCoro::Task<APIClient::Answer> sendThrough(APIClient &client, const Endpoint &endpoint)
{
    return endpoint.method() == "GET" ? client.raceHosts(endpoint) : client.sendSequential(endpoint);
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
                                           AppGroupStore(m_home->paths()), stagger);
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

    std::optional<QString> persisted() const { return openSharedGroupDefaults(m_home->paths())->string(AppGroupKey::activeBaseURL); }

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
        openSharedGroupDefaults(m_home->paths())->remove(AppGroupKey::activeBaseURL);
    }

    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void cleanupTestCase()
    {
        m_fake.reset();
        m_home.reset();
    }

    // GET races the hosts, POST tries one after another.
    void transport_data()
    {
        QTest::addColumn<bool>("race");
        QTest::addColumn<int>("stored"); // the stored base URL; -1: none
        QTest::addColumn<QList<FakeReply>>("replies");
        QTest::addColumn<int>("staggerMs");
        QTest::addColumn<int>("timeoutMs"); // 0: the shared sessions
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
            openSharedGroupDefaults(m_home->paths())->set(AppGroupKey::activeBaseURL, m_urls[stored].toString());
        const Endpoint endpoint = race ? Endpoint::me() : Endpoint::starsInvoice(QStringLiteral("m1"));
        scriptHosts(endpoint.method(), endpoint.path(), replies);
        HttpSession own(HttpSession::Kind::Default, std::chrono::milliseconds(timeoutMs));
        auto client = makeClient(timeoutMs ? &own : HttpSession::sharedDefault(), std::chrono::milliseconds(staggerMs));
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
        QCOMPARE(makeClient(&own)->activeBaseURL(), m_urls[std::max(active, 0)]); // the next client starts there
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
        auto client = makeClient(HttpSession::sharedDefault());
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
    }

    void missingTokenSendsNothing_data()
    {
        QTest::addColumn<Endpoint>("endpoint");
        QTest::addColumn<QString>("token"); // null: none at all
        QTest::newRow("race") << Endpoint::me() << QString();
        QTest::newRow("sequential") << Endpoint::starsInvoice("m1") << QString();
        QTest::newRow("empty token") << Endpoint::subscription() << QStringLiteral("");
    }
    void missingTokenSendsNothing()
    {
        QFETCH(Endpoint, endpoint);
        QFETCH(QString, token);
        auto client = makeClient(HttpSession::sharedDefault(), 10ms,
                                 token.isNull() ? std::nullopt : std::optional<QString>(token));
        QCOMPARE(outcomeText(sendThrough(*client, endpoint)), QStringLiteral("401 unauthorized"));
        QTest::qWait(100);
        QCOMPARE(m_fake->requestCount(), 0);
    }

    // KOVRA_API_BASE_URLS replaces the built-in URLs only as a whole.
    void baseURLOverride_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("accepted");
        QTest::newRow("three URLs") << QByteArray("https://a.test,http://127.0.0.1:8080/api, https://c.test") << 3;
        QTest::newRow("two URLs") << QByteArray("https://a.test,https://b.test") << 0;
        QTest::newRow("four URLs") << QByteArray("https://a.test,https://b.test,https://c.test,https://d.test") << 0;
        QTest::newRow("not http") << QByteArray("https://a.test,ftp://b.test,https://c.test") << 0;
        QTest::newRow("no host") << QByteArray("https://a.test,https://,https://c.test") << 0;
        QTest::newRow("repeated") << QByteArray("https://a.test,https://a.test,https://c.test") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
    }
    void baseURLOverride()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, accepted);
        const auto urls = APIClient::parseBaseURLOverride(text);
        QCOMPARE(urls ? int(urls->size()) : 0, accepted);
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
};

QTEST_GUILESS_MAIN(APIClientTest)
#include "itst_api_client.moc"
