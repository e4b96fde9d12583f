#include "core/APIClient.h"
#include "core/AccountReplies.h"
#include "core/NetworkWarmup.h"

#include <QRegularExpression>
#include <QTest>

#include "support/Await.h"
#include "support/ErrorText.h"
#include "support/FakeService.h"
#include "support/FixedTokenProvider.h"

#include "loopback-http/BlastServer.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)
Q_DECLARE_METATYPE(kovra::Endpoint)

namespace {

const QString kToken = QStringLiteral("tok-123");
constexpr qint64 kCap = 1024;

// A small reply record of the tests' own.
struct Profile {
    QString displayName;
    static Profile decode(const JsonDecodingContainer &c) { return {c.decode<QString>("displayName")}; }
};

QString show(const APIClient::Answer &a) { return QString::number(a.statusCode) + u' ' + QString::fromUtf8(a.body); }
QString show(const Profile &p) { return p.displayName; }
QString show(const InvoiceOut &i) { return i.paymentId + u' ' + i.url; }

// The result shown as text, or the error's text.
template<class T>
QCoro::Task<QString> outcomeTask(QCoro::Task<T> task)
{
    try {
        co_return show(co_await std::move(task));
    } catch (...) {
        co_return errorText(std::current_exception());
    }
}

template<class T>
QString outcomeOf(QCoro::Task<T> task)
{
    return test::await(outcomeTask(std::move(task)));
}

QCoro::Task<APIClient::Answer> sendThrough(APIClient &client, const Endpoint &endpoint)
{
    return endpoint.method() == "GET" ? client.raceHosts(endpoint) : client.sendSequential(endpoint);
}

// Valid JSON of exactly `size` bytes: {"display_name":"Ann","pad":"xxx..."}.
QByteArray paddedProfile(int size)
{
    const QByteArray head = "{\"display_name\":\"Ann\",\"pad\":\"";
    return head + QByteArray(size - head.size() - 2, 'x') + "\"}";
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
                                           APIClient::Options{stagger, kCap});
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

    // GET races the hosts, POST tries one after another; the warm-up tries them one after
    // another unauthenticated, and any HTTP answer pins its host for the clients built later.
    void transport_data()
    {
        QTest::addColumn<QString>("mode"); // "race", "sequential" or "warmup"
        QTest::addColumn<QString>("stored"); // the stored base URL
        QTest::addColumn<QList<FakeReply>>("replies");
        QTest::addColumn<int>("staggerMs");
        QTest::addColumn<int>("timeoutMs"); // 0: the test's two sessions
        QTest::addColumn<QString>("outcome"); // the warm-up's: its log line
        QTest::addColumn<QList<int>>("contacted");
        QTest::addColumn<QStringList>("failures"); // the "API host … failed" lines
        QTest::addColumn<int>("active"); // the active and stored base URL after the send; -1: the first, none stored

        const auto ok = [](const char *body, std::chrono::milliseconds delay = {}) {
            return FakeReply::json(200, body, delay);
        };
        const FakeReply silent = FakeReply::silent(), close = FakeReply::close();
        const QString failed = QStringLiteral("API host 127.0.0.1 failed (%1); trying next");
        const QStringList none;
        const QString url1 = m_urls[1].toString(), url2 = m_urls[2].toString();
        QTest::newRow("race: active answers 404 within the stagger")
            << "race" << "" << QList{FakeReply::json(404, "nf", 50ms), ok("b"), ok("c")} << 3000 << 0 << "404 nf"
            << QList{0} << none << -1;
        QTest::newRow("race: all 502, the first one received wins")
            << "race" << "" << QList{FakeReply::json(502, "a", 1500ms), FakeReply::json(502, "b"), FakeReply::json(502, "c")}
            << 200 << 0 << "502 b" << QList{0, 1, 2} << none << 1;
        QTest::newRow("race: stored URL not ours, a failure starts the next at once")
            << "race" << "https://api.elsewhere.example/api" << QList{close, ok("b"), ok("c")} << 60000 << 0 << "200 b"
            << QList{0, 1} << none << 1;
        QTest::newRow("race: every candidate times out")
            << "race" << "" << QList{silent, silent, silent} << 100 << 300 << "network -1001" << QList{0, 1, 2} << none
            << -1;
        QTest::newRow("race: stored second, the ring goes on to the first")
            << "race" << url1 << QList{ok("a"), close, close} << 60000 << 0 << "200 a" << QList{0, 1, 2} << none << 0;
        QTest::newRow("sequential: first host's 500 is the answer")
            << "sequential" << "" << QList{FakeReply::json(500, "a"), ok("b"), ok("c")} << 200 << 0 << "500 a" << QList{0}
            << none << -1;
        // A fresh session: the first host cuts the connection it opened for the invoice off.
        QTest::newRow("sequential: a cut-off moves on, the request not repeated")
            << "sequential" << "" << QList{FakeReply::close(100ms), FakeReply::json(201, "b"), ok("c")} << 200 << 5000
            << "201 b" << QList{0, 1} << QStringList{failed.arg(-1005)} << 1;
        QTest::newRow("sequential: a time-out moves on")
            << "sequential" << "" << QList{silent, FakeReply::json(201, "b"), ok("c")} << 200 << 300 << "201 b"
            << QList{0, 1} << QStringList{failed.arg(-1001)} << 1;
        // Candidates start at the stored base URL and go round the ring.
        QTest::newRow("sequential: every host fails, from the stored third")
            << "sequential" << url2 << QList{close, close, close} << 200 << 0 << "network -1005" << QList{2, 0, 1}
            << QStringList(3, failed.arg(-1005)) << 2;
        // Answers come a little late, so a candidate started alongside would show up first.
        QTest::newRow("warmup: a 503 pins, others untried")
            << "warmup" << "" << QList{FakeReply::json(503, "a", 100ms), ok("b"), ok("c")} << 0 << 1000
            << "warmup: pinned API host 127.0.0.1" << QList{0} << none << 0;
        QTest::newRow("warmup: none answers, previous pin kept")
            << "warmup" << url1 << QList{close, silent, close} << 0 << 300 << "warmup: no API host reachable"
            << QList{1, 2, 0} << none << 1;
    }
    void transport()
    {
        QFETCH(QString, mode);
        QFETCH(QString, stored);
        QFETCH(QList<FakeReply>, replies);
        QFETCH(int, staggerMs);
        QFETCH(int, timeoutMs);
        QFETCH(QString, outcome);
        QFETCH(int, active);
        const bool warmup = mode == u"warmup";
        const int storedIndex = int(m_urls.indexOf(QUrl(stored)));
        if (!stored.isEmpty())
            m_defaults->set(AppGroupKey::activeBaseURL, stored);
        const Endpoint endpoint = mode == u"sequential" ? Endpoint::starsInvoice(QStringLiteral("m1"))
                                  : warmup              ? Endpoint::regions()
                                                        : Endpoint::me();
        scriptHosts(endpoint.method(), endpoint.path(), replies);
        HttpSession own(HttpSession::Kind::Default, std::chrono::milliseconds(timeoutMs));
        auto client = makeClient(std::chrono::milliseconds(staggerMs), timeoutMs ? &own : nullptr);
        QCOMPARE(client->activeBaseURL(), m_urls[std::max(storedIndex, 0)]);
        LogCapture log;

        if (warmup) {
            test::await(NetworkWarmup(m_urls, m_defaults, std::chrono::milliseconds(timeoutMs)).run());
            QCOMPARE(log.texts(QStringLiteral("NetworkWarmup")), QStringList{outcome});
        } else {
            QCOMPARE(outcomeOf(sendThrough(*client, endpoint)), outcome);
        }
        QTest::qWait(50);
        QList<int> hosts = hostsContacted();
        if (mode == u"race") // racing candidates may overlap; which hosts matters, not their order
            std::sort(hosts.begin(), hosts.end());
        QTEST(hosts, "contacted");
        if (mode == u"sequential") // a POST reaches each host once
            QCOMPARE(m_fake->requestCount(), hosts.size());
        for (const auto &r : m_fake->requests())
            QCOMPARE(r.hasHeader("Authorization"), !warmup);
        const QStringList lines = log.texts(QStringLiteral("APIClient"));
        QTEST(lines.filter(QRegularExpression("^API host")), "failures");
        QCOMPARE(!lines.filter(QStringLiteral("promoted API host to 127.0.0.1")).isEmpty(),
                 !warmup && active >= 0 && active != storedIndex);
        // The warm-up leaves running clients alone; the next client starts at the pinned host.
        QCOMPARE(client->activeBaseURL(), m_urls[std::max(warmup ? storedIndex : active, 0)]);
        QCOMPARE(persisted(), active >= 0 ? std::optional(m_urls[active].toString()) : std::nullopt);
        QCOMPARE(makeClient()->activeBaseURL(), m_urls[std::max(active, 0)]);
    }

    // A silent candidate holds the next off for one stagger; a failure starts the next at
    // once and restarts the stagger. The first host of the last row cuts its connection off
    // at 800 ms, and would cut Qt's resend of the request off 800 ms later.
    void staggeredStarts_data()
    {
        QTest::addColumn<FakeReply>("first");
        QTest::addColumn<int>("staggerMs");
        QTest::addColumn<int>("minSecondMs"); // least time between the first and second request
        QTest::addColumn<int>("maxSecondMs");
        QTest::addColumn<int>("minThirdMs"); // least time between the second and third
        QTest::newRow("silent hosts: one stagger each") << FakeReply::silent() << 300 << 225 << 10000 << 225;
        QTest::newRow("a failure restarts the stagger") << FakeReply::close(300ms) << 1000 << 250 << 900 << 850;
        QTest::newRow("a cut-off starts the next at once") << FakeReply::close(800ms) << 2000 << 700 << 1500 << 1500;
    }
    void staggeredStarts()
    {
        QFETCH(FakeReply, first);
        QFETCH(int, staggerMs);
        QFETCH(int, minSecondMs);
        QFETCH(int, maxSecondMs);
        QFETCH(int, minThirdMs);
        scriptHosts("GET", QStringLiteral("/regions"), {first, FakeReply::silent(), FakeReply::json(200, "[]")});
        auto client = makeClient(std::chrono::milliseconds(staggerMs));

        QCOMPARE(outcomeOf(client->raceHosts(Endpoint::regions())), QStringLiteral("200 []"));
        QCOMPARE(hostsContacted(), (QList{0, 1, 2}));
        const qint64 second = firstRequestAt(1) - firstRequestAt(0), third = firstRequestAt(2) - firstRequestAt(1);
        QVERIFY2(second >= minSecondMs && second < maxSecondMs, qPrintable(QString::number(second)));
        QVERIFY2(third >= minThirdMs, qPrintable(QString::number(third)));
        // The winner ends the race: the silent second host is closed.
        QVERIFY(m_fake->waitForClosedEarly(1));
    }

    // Every request carries the JSON headers and the user agent. The token is read once
    // per call and handed to every candidate, read again on the next call, never kept;
    // an endpoint without authentication reads none and sends none.
    void headersAndToken()
    {
        scriptHosts("GET", QStringLiteral("/me"),
                    {FakeReply::json(503, "a"), FakeReply::json(503, "b"), FakeReply::json(200, "c")});
        m_fake->script(FakeService::anyHost, "POST", QStringLiteral("/payment/stars/invoice"), {FakeReply::json(200, "{}")});
        m_fake->script(FakeService::anyHost, "POST", QStringLiteral("/auth/start_session"), {FakeReply::json(200, "{}")});
        auto client = makeClient(5s);
        QCOMPARE(outcomeOf(client->raceHosts(Endpoint::me())), QStringLiteral("200 c"));
        QCOMPARE(m_token->reads, 1);
        QCOMPARE(m_fake->requestCount(), 3);
        for (const auto &r : m_fake->requests())
            QCOMPARE(r.header("Authorization"), "Bearer " + kToken.toUtf8());

        m_token->token = QStringLiteral("tok-new");
        QCOMPARE(outcomeOf(client->sendSequential(Endpoint::starsInvoice("m1"))), QStringLiteral("200 {}"));
        const RecordedRequest r = m_fake->requests().last();
        const QString agent = QString::fromUtf8(r.header("User-Agent"));
        QVERIFY2(QRegularExpression("^KovraS/\\S+ \\(build \\S+; iOS; sing-box\\)$").match(agent).hasMatch(), qPrintable(agent));
        QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(r.header("Accept"), QByteArray("application/json"));
        QCOMPARE(r.header("Authorization"), QByteArray("Bearer tok-new"));
        QCOMPARE(r.body, QByteArray(R"({"plan_id":"m1"})"));
        QCOMPARE(m_token->reads, 2);

        QCOMPARE(outcomeOf(client->sendSequential(Endpoint::startSession())), QStringLiteral("200 {}"));
        QVERIFY(!m_fake->requests().last().hasHeader("Authorization"));
        QCOMPARE(m_token->reads, 2);
    }

    // Refused calls end before anything is sent, as APIErrors.
    void refusedBeforeSending_data()
    {
        QTest::addColumn<Endpoint>("endpoint");
        QTest::addColumn<QString>("token"); // null: none at all
        QTest::addColumn<QString>("outcome");
        QTest::newRow("race without token") << Endpoint::me() << QString() << "401 unauthorized";
        QTest::newRow("sequential, empty token") << Endpoint::starsInvoice("m1") << QStringLiteral("") << "401 unauthorized";
        // A path parameter that cannot be one segment would address another resource.
        QTest::newRow("path parameter refused") << Endpoint::wakeRegion("..") << kToken << "network -1002";
    }
    void refusedBeforeSending()
    {
        QFETCH(Endpoint, endpoint);
        QFETCH(QString, token);
        m_token->token = token.isNull() ? std::nullopt : std::optional<QString>(token);
        QTEST(outcomeOf(sendThrough(*makeClient(10ms), endpoint)), "outcome");
        QTest::qWait(100);
        QCOMPARE(m_fake->requestCount(), 0);
    }

    // An override of other than three distinct URLs is refused, with a line, for the built-in ones.
    void baseURLsFromTheOverride()
    {
        LogCapture log;
        QCOMPARE(APIClient::baseURLsFor("https://a.test,http://127.0.0.1:8080/api, https://c.test"),
                 (QList<QUrl>{QUrl("https://a.test"), QUrl("http://127.0.0.1:8080/api"), QUrl("https://c.test")}));
        for (const QByteArray text : {"https://a.test,https://b.test", "https://a.test,https://a.test,https://c.test"})
            QCOMPARE(APIClient::baseURLsFor(text), APIClient::builtInBaseURLs());
        QCOMPARE(log.texts(QStringLiteral("APIClient")).size(), 2);
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

    // A host whose answer breaks off short of its announced length has lost the connection,
    // whatever its first bytes would decode to: the race goes on with the other hosts, the
    // POST moves on to the next one, and the host that cut its answer is never promoted.
    // The cutting hosts send as fast as they can from threads of their own and close 0.2 s
    // after the first 100 of 1000 bytes; only a failure starts the next candidate (the
    // stagger is long); three clients send at once, each row a few times.
    void hostsThatCutTheirAnswers_data()
    {
        QTest::addColumn<bool>("race"); // else sequential
        QTest::addColumn<QByteArray>("sentBeforeTheCut");
        QTest::addColumn<int>("cutting"); // how many hosts cut, from the first
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("active"); // the active base URL afterwards
        const QByteArray decodes = "{}" + QByteArray(98, ' '), garbled = "{\"x" + QByteArray(97, ' ');
        QTest::newRow("race, the first host cuts a prefix that decodes") << true << decodes << 1 << "Ann" << 1;
        QTest::newRow("race, every host cuts") << true << garbled << 3 << "network -1005" << 0;
        QTest::newRow("POST, the first host cuts a prefix that decodes") << false << decodes << 1 << "p1 tg:pay" << 1;
        QTest::newRow("POST, every host cuts") << false << garbled << 3 << "network -1005" << 0;
    }
    void hostsThatCutTheirAnswers()
    {
        QFETCH(bool, race);
        QFETCH(QByteArray, sentBeforeTheCut);
        QFETCH(int, cutting);
        QFETCH(QString, outcome);
        QFETCH(int, active);
        constexpr int runs = 3, clients = 3;
        loopback::BlastAnswer cut;
        cut.head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 1000\r\n\r\n";
        cut.body = sentBeforeTheCut + QByteArray(1000 - sentBeforeTheCut.size(), ' ');
        cut.sendUpTo = sentBeforeTheCut.size();
        cut.breakOff = loopback::BreakOff{loopback::BreakOff::How::Close, 200ms};
        m_fake->script(FakeService::anyHost, "GET", QStringLiteral("/me"), {FakeReply::json(200, R"({"display_name":"Ann"})")});
        m_fake->script(FakeService::anyHost, "POST", QStringLiteral("/payment/stars/invoice"),
                       {FakeReply::json(200, R"({"payment_id":"p1","invoice_url":"tg:pay"})")});
        for (int run = 0; run < runs; ++run) {
            std::vector<std::unique_ptr<loopback::BlastServer>> cutters;
            QList<QUrl> urls = m_urls;
            for (int host = 0; host < cutting; ++host) {
                cutters.push_back(std::make_unique<loopback::BlastServer>(cut));
                urls[host] = cutters.back()->url(QStringLiteral("/api"));
            }
            std::vector<std::unique_ptr<APIClient>> sent;
            std::vector<std::unique_ptr<test::Pending<QString>>> pending;
            for (int i = 0; i < clients; ++i) {
                sent.push_back(std::make_unique<APIClient>(APIClient::Sessions{&m_session, &m_fallback}, urls, m_token,
                                                           AppGroupStore(Defaults::inMemory(), nullptr),
                                                           APIClient::Options{5s, kCap}));
                pending.push_back(std::make_unique<test::Pending<QString>>(
                    race ? outcomeTask(sent.back()->send<Profile>(Endpoint::me()))
                         : outcomeTask(sent.back()->send<InvoiceOut>(Endpoint::starsInvoice(QStringLiteral("m1"))))));
            }
            for (int i = 0; i < clients; ++i) {
                QCOMPARE(pending[i]->result(), outcome);
                QCOMPARE(sent[i]->activeBaseURL(), urls[active]);
            }
            if (!race) // each cutting host received each client's POST once
                for (const auto &c : cutters)
                    QCOMPARE(c->requestCount(), clients);
        }
    }

    // Typed sends: GET endpoints decode a Profile, POST ones an InvoiceOut. A reply that
    // does not decode fails as "decoding" with one error line, which begins as given.
    void typedSend_data()
    {
        QTest::addColumn<Endpoint>("endpoint");
        QTest::addColumn<FakeReply>("reply"); // given by every host
        QTest::addColumn<QString>("outcome");

        const Endpoint me = Endpoint::me(), invoice = Endpoint::starsInvoice(QStringLiteral("m1"));
        // A 1xx answer carries no body.
        const auto profile = [](int status) {
            return FakeReply::json(status, status < 200 ? "" : R"({"display_name":"Ann","extra":[1]})");
        };
        const auto answer = [](const char *body) { return FakeReply::json(200, body); };
        // Status mapping; bodies of error answers are never read.
        QTest::newRow("199") << me << profile(199) << "server 199";
        QTest::newRow("299") << me << profile(299) << "Ann";
        QTest::newRow("300") << me << profile(300) << "server 300";
        // The race takes a 401 as its answer; the typed request makes it an error.
        QTest::newRow("401") << me << profile(401) << "401 unauthorized";
        QTest::newRow("exactly the cap") << me << FakeReply::json(200, paddedProfile(kCap)) << "Ann";
        QTest::newRow("one byte over the cap")
            << me << FakeReply::json(200, paddedProfile(kCap + 1))
            << "decode /me → decode dataCorrupted at <root>: The reply body is larger than 1024 bytes.";
        QTest::newRow("poll hides its nonce") << Endpoint::poll(QStringLiteral("n0nce-secret")) << answer("")
                                              << "decode /auth/poll/*** → decode dataCorrupted at <root>: ";
        // Invoices: "pay_url" stands in for a null "invoice_url"; one of them is required.
        QTest::newRow("invoice link null")
            << invoice << answer(R"({"payment_id":"p1","invoice_url":null,"pay_url":"ton:pay-2"})") << "p1 ton:pay-2";
        QTest::newRow("neither link") << invoice << answer(R"({"payment_id":"p1"})")
                                      << "decode /payment/stars/invoice → decode dataCorrupted at <root>: "
                                         "InvoiceOut requires invoice_url or pay_url";
    }
    void typedSend()
    {
        QFETCH(Endpoint, endpoint);
        QFETCH(FakeReply, reply);
        QFETCH(QString, outcome);
        m_fake->script(FakeService::anyHost, endpoint.method(), endpoint.path(), {reply});
        auto client = makeClient();
        LogCapture log;

        const QString got = endpoint.method() == "GET" ? outcomeOf(client->send<Profile>(endpoint))
                                                       : outcomeOf(client->send<InvoiceOut>(endpoint));
        const bool decoding = outcome.startsWith(u"decode ");
        QCOMPARE(got, decoding ? QStringLiteral("decoding") : outcome);
        const QList<LogLine> lines = log.lines(QStringLiteral("APIClient"));
        QCOMPARE(lines.size(), decoding ? 1 : 0);
        if (decoding) {
            QVERIFY2(lines[0].text.startsWith(outcome), qPrintable(lines[0].text));
            QCOMPARE(lines[0].level, LogLevel::Error);
        }
        for (const LogLine &line : log.lines())
            QVERIFY(!line.text.contains(u"n0nce-secret"));
    }
};

QTEST_GUILESS_MAIN(APIClientTest)
#include "itst_api_client.moc"
