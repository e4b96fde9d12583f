// The development service's routes through the client's own API client and records;
// requests are real.

#include "account/AuthService.h"
#include "account/MeOut.h"
#include "account/SubscriptionOut.h"
#include "account/Tariff.h"
#include "catalog/Connection.h"
#include "catalog/Entry.h"
#include "catalog/Region.h"
#include "catalog/RegionWakeAck.h"
#include "core/APIClient.h"
#include "core/AccountReplies.h"

#include <QTest>

#include "devservice/DevServiceRun.h"
#include "support/FixedTokenProvider.h"
#include "support/MemoryTokenStore.h"

using namespace kovra;
using namespace kovra::test;
using namespace kovra::devservice;
using namespace std::chrono_literals;
using Kind = Endpoint::Kind;


namespace {

// A development service and the client's API client over its hosts, with an in-memory
// app group and token store.
struct Flow {
    explicit Flow(DevServiceOptions options = {}) : confirmAfter(options.confirmAfter), run(std::move(options)) {}

    AppGroupStore store() const { return AppGroupStore(defaults, nullptr); }
    // A sign-in through the polls; the token goes to the token store.
    void signIn() { tokens->token = test::signIn(run.base(), confirmAfter); }

    const int confirmAfter;
    DevServiceRun run;
    std::shared_ptr<Defaults> defaults = Defaults::inMemory();
    std::shared_ptr<MemoryTokenStore> tokens = std::make_shared<MemoryTokenStore>();
    HttpSession session{HttpSession::Kind::Default, 10s};
    // A stagger far beyond a loopback answer: each GET reaches one host only, so the
    // service counts every poll once.
    APIClient api{{&session, &session}, run.service->baseURLs(), tokens, store(), APIClient::Options{10s}};
};

Endpoint endpointFor(Kind kind, const QString &nonce = {})
{
    switch (kind) {
    case Kind::poll: return Endpoint::poll(nonce);
    case Kind::wakeRegion: return Endpoint::wakeRegion(QStringLiteral("de-gcp"));
    case Kind::starsInvoice: return Endpoint::starsInvoice(QStringLiteral("month_1"));
    case Kind::cryptoInvoice: return Endpoint::cryptoInvoice(QStringLiteral("month_12"));
    case Kind::appleLogin: return Endpoint::appleLogin(QStringLiteral("apple-id-token"), QStringLiteral("n"));
    case Kind::appleLink: return Endpoint::appleLink(QStringLiteral("apple-id-token"), QStringLiteral("n"));
    case Kind::googleLogin: return Endpoint::googleLogin(QStringLiteral("google-id-token"));
    case Kind::googleLink: return Endpoint::googleLink(QStringLiteral("google-id-token"));
    case Kind::telegramLink: return Endpoint::telegramLink(QStringLiteral("query_id=1&user=2"));
    case Kind::registerPush: return Endpoint::registerPush(QStringLiteral("push-token"), QStringLiteral("production"));
    case Kind::startSession: return Endpoint::startSession();
    case Kind::me: return Endpoint::me();
    case Kind::subscription: return Endpoint::subscription();
    case Kind::regions: return Endpoint::regions();
    case Kind::entries: return Endpoint::entries();
    case Kind::connections: return Endpoint::connections();
    case Kind::clientVersion: return Endpoint::clientVersion();
    case Kind::tariffs: return Endpoint::tariffs();
    }
    throw std::logic_error("an endpoint without a request in this test");
}

bool onLoopback(const QString &link, const QString &scheme = QStringLiteral("https"))
{
    const QUrl url(link);
    return url.scheme() == scheme && url.host() == u"127.0.0.1" && url.port() > 0;
}

// Decodes a reply into the client's record; the reason when it does not fit.
QString replyMismatch(const APIClient &api, Kind kind, const QByteArray &body, const QDateTime &now)
{
    const auto unless = [](bool fits, const char *what) { return fits ? QString() : QString::fromLatin1(what); };
    const QString label = QStringLiteral("test");
    switch (kind) {
    case Kind::poll:
    case Kind::appleLogin:
    case Kind::appleLink:
    case Kind::googleLogin:
    case Kind::googleLink:
    case Kind::telegramLink: return unless(!api.decode<LoginOut>(body, label).accessToken.isEmpty(), "no token");
    case Kind::starsInvoice:
    case Kind::cryptoInvoice: return unless(onLoopback(api.decode<InvoiceOut>(body, label).url), "link off loopback");
    case Kind::startSession: {
        const auto s = api.decode<StartSessionOut>(body, label);
        return unless(!s.nonce.isEmpty() && s.deepLink.startsWith(u"tg://") && s.deepLink.contains(s.nonce)
                          && onLoopback(s.httpsLink) && s.expiresInSeconds == 60,
                      "session");
    }
    case Kind::me: {
        const auto me = api.decode<MeOut>(body, label);
        return unless(me.hasTelegram && me.telegramId && me.marzbanUsername && me.createdAt == now, "account");
    }
    case Kind::subscription: {
        const auto s = api.decode<SubscriptionOut>(body, label);
        return unless(s.isActive(now) && onLoopback(s.subscriptionUrl, QStringLiteral("http")), "subscription");
    }
    case Kind::tariffs: {
        QList<qint64> months;
        for (const Tariff &t : api.decode<Tariffs>(body, label))
            months << t.months;
        std::sort(months.begin(), months.end());
        return unless(months == QList<qint64>{1, 3, 6, 12}, "plans");
    }
    case Kind::wakeRegion: return unless(api.decode<RegionWakeAck>(body, label).status == u"starting", "wake");
    case Kind::regions: return unless(api.decode<QList<Region>>(body, label).size() == 7, "regions");
    case Kind::entries: return unless(!api.decode<QList<Entry>>(body, label).isEmpty(), "entries");
    case Kind::connections: return unless(!api.decode<QList<Connection>>(body, label).isEmpty(), "connections");
    // Nothing in the client reads these two.
    case Kind::registerPush:
    case Kind::clientVersion: return unless(QJsonDocument::fromJson(body).isObject(), "not an object");
    }
    return QStringLiteral("no check");
}

} // namespace

class DevServiceClientTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Flow> m_flow;

    APIClient::Answer send(APIClient &api, const Endpoint &endpoint)
    {
        return await(endpoint.method() == "GET" ? api.raceHosts(endpoint) : api.sendSequential(endpoint));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_flow = std::make_unique<Flow>(optionsWith([&](auto &o) { o.confirmAfter = 0; o.sessionLifetime = 60s; }));
        QVERIFY2(m_flow->run.started, qPrintable(m_flow->run.error));
        // The form KOVRA_API_BASE_URLS takes.
        QCOMPARE(APIClient::baseURLsFor(m_flow->run.service->startLine().section(u' ', 1).toUtf8()),
                 m_flow->run.service->baseURLs());
        m_flow->signIn();
        QVERIFY(m_flow->tokens->token);
    }

    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Every endpoint of the enumeration gets a 2xx reply that decodes into the client's
    // record, and a 401 for a token the service did not issue exactly when it needs one.
    void endpoints_data()
    {
        QTest::addColumn<int>("kind");
        for (int k = 0; k <= int(Kind::tariffs); ++k)
            QTest::newRow(qPrintable(endpointFor(Kind(k), QStringLiteral("<nonce>")).path())) << k;
    }

    void endpoints()
    {
        QFETCH(int, kind);
        APIClient &api = m_flow->api;
        QString nonce;
        if (Kind(kind) == Kind::poll)
            nonce = api.decode<StartSessionOut>(send(api, Endpoint::startSession()).body, QStringLiteral("start")).nonce;
        const Endpoint endpoint = endpointFor(Kind(kind), nonce);
        const APIClient::Answer answer = send(api, endpoint);
        QVERIFY2(answer.statusCode >= 200 && answer.statusCode < 300, qPrintable(QString::number(answer.statusCode)));
        QString mismatch;
        try {
            mismatch = replyMismatch(api, Kind(kind), answer.body, m_flow->run.clock->now());
        } catch (const APIError &e) {
            mismatch = e.description();
        }
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch + u' ' + QString::fromUtf8(answer.body)));

        APIClient foreign({&m_flow->session, &m_flow->session}, api.baseURLs(),
                          std::make_shared<FixedTokenProvider>(QStringLiteral("forged-token")), m_flow->store());
        QCOMPARE(send(foreign, endpoint).statusCode == 401, endpoint.requiresAuth());
    }

};

QTEST_GUILESS_MAIN(DevServiceClientTest)
#include "itst_dev_service_client.moc"
