#include "account/AuthState.h"
#include "account/MeStore.h"
#include "account/PaymentWaitingState.h"
#include "account/PaymentsService.h"
#include "account/SubscriptionStore.h"

#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/ErrorText.h"
#include "support/FakeServiceClient.h"
#include "support/ManualClock.h"
#include "support/MemoryTokenStore.h"
#include "support/RecordingUrlOpener.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)

namespace {

const QString kToken = u"tok-bearer-93d1"_s;
const QString kSubscriptionPath = u"/me/subscription"_s;
const QString kMePath = u"/me"_s;

QByteArray subscriptionReply(const QString &url, const QString &expire = u"1741262400"_s)
{
    return uR"({"subscription_url":"%1","status":"active","data_limit_bytes":0,"used_bytes":5,"expire_unix":%2,)"
           uR"("expires_in_seconds":86400})"_s.arg(url, expire)
        .toUtf8();
}
const QByteArray kMeReply = R"({"telegram_id":7,"has_telegram":true,"has_apple":false,"created_at":"2024-05-01 12:30:00"})";

// The app's account objects over the test's client, with the session hook the
// start-up installs (it empties both stores).
struct Account {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<Defaults> defaults = Defaults::inMemory();
    std::shared_ptr<MemoryTokenStore> tokens = std::make_shared<MemoryTokenStore>(kToken);
    AuthState auth;
    SubscriptionStore subscription;
    MeStore me;
    int sessionEnds = 0;

    Account(APIClient *api, bool withSession = true)
        : auth(std::make_shared<AuthService>(api, tokens), tokens, AppGroupStore(defaults, nullptr),
               std::make_shared<RecordingUrlOpener>(), AuthState::Options{2000ms, 60, clock}),
          subscription(std::make_shared<SubscriptionService>(api), AppGroupStore(defaults, nullptr),
                       withSession ? &auth : nullptr, {clock}),
          me(std::make_shared<MeService>(api), withSession ? &auth : nullptr)
    {
        auth.setOnSessionInvalidated([this] {
            ++sessionEnds;
            subscription.clear();
            me.reset();
        });
        await(auth.restore());
    }
};

} // namespace

class AccountStoresTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeServiceClient> m_api;
    FakeService *m_fake = nullptr;
    APIClient *m_client = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        m_api = std::make_unique<FakeServiceClient>(kToken);
        m_fake = &m_api->service;
        m_client = &m_api->client;
    }
    void init() { m_fake->reset(); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void cleanupTestCase() { m_api.reset(); }

    // Each outcome of a subscription refresh, starting from a published subscription
    // with its URL handed to the tunnel provider and its cached copy.
    void aSubscriptionRefresh_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<bool>("withSession");
        QTest::addColumn<QString>("url");   // "subscriptionURL" afterwards
        QTest::addColumn<bool>("cached");   // a cached copy afterwards
        QTest::addColumn<bool>("latest");   // a subscription afterwards
        QTest::addColumn<QString>("error"); // of the store
        QTest::addColumn<QString>("line");
        QTest::newRow("new subscription") << FakeReply::json(200, subscriptionReply(u"https://sub.example/new"_s)) << true
                                          << u"https://sub.example/new"_s << true << true << QString()
                                          << u"refresh ok: status=active limit=0 used=5 expireUnix=1741262400"_s;
        QTest::newRow("empty URL, no expiry") << FakeReply::json(200, subscriptionReply({}, u"null"_s)) << true << QString()
                                              << true << true << QString()
                                              << u"refresh ok: status=active limit=0 used=5 expireUnix=nil"_s;
        QTest::newRow("401 ends the session") << FakeReply::json(401) << true << u"https://sub.example/old"_s << false
                                              << false << QString() << u"refresh 401: session cleared"_s;
        QTest::newRow("401 without a session") << FakeReply::json(401) << false << u"https://sub.example/old"_s << false
                                               << false << u"401 unauthorized"_s << u"refresh 401: session cleared"_s;
        QTest::newRow("server error keeps it") << FakeReply::json(500) << true << u"https://sub.example/old"_s << true
                                               << true << u"server 500"_s << u"refresh failed: server 500"_s;
        QTest::newRow("a reply without used_bytes")
            << FakeReply::json(200, R"({"subscription_url":"u","status":"active","data_limit_bytes":0})") << true
            << u"https://sub.example/old"_s << true << true << u"decoding"_s << u"refresh failed: decode keyNotFound usedBytes"_s;
    }
    void aSubscriptionRefresh()
    {
        QFETCH(FakeReply, reply);
        QFETCH(bool, withSession);
        QFETCH(QString, url);
        QFETCH(bool, cached);
        QFETCH(bool, latest);
        QFETCH(QString, error);
        QFETCH(QString, line);
        m_fake->script(FakeService::anyHost, "GET", kSubscriptionPath, {FakeReply::json(200, subscriptionReply(u"https://sub.example/old"_s))});
        Account a(m_client, withSession);
        await(a.subscription.refresh());
        const QByteArray oldCache = *a.defaults->data(AppGroupKey::cachedSubscription);
        m_fake->script(FakeService::anyHost, "GET", kSubscriptionPath, {reply});
        LogCapture logs;

        await(a.subscription.refresh());
        QCOMPARE(a.defaults->string(AppGroupKey::subscriptionURL), std::optional(url));
        QCOMPARE(a.defaults->contains(AppGroupKey::cachedSubscription), cached);
        QCOMPARE(a.subscription.hasLatest(), latest);
        QCOMPARE(errorText(a.subscription.error()), error);
        QVERIFY(!a.subscription.isLoading());
        const QStringList lines = logs.texts(u"Subscription"_s);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.first(), u"refresh start"_s);
        QVERIFY2(lines.last().startsWith(line), qPrintable(lines.last()));
        const bool refused = line.contains(u"401"_s);
        QCOMPARE(a.sessionEnds, refused && withSession ? 1 : 0);
        QCOMPARE(a.auth.statusKind(), refused && withSession ? AuthState::StatusKind::anonymous
                                                             : AuthState::StatusKind::authenticated);
        if (refused && withSession)
            QCOMPARE(errorText(a.auth.lastError()), u"401 unauthorized"_s);
        if (latest && error.isEmpty()) {
            // The new copy is cached, dated now.
            const auto copy = JsonDecoder().decode<CachedSubscription>(*a.defaults->data(AppGroupKey::cachedSubscription));
            QCOMPARE(copy.fetchedAt, a.clock->now());
            QVERIFY(copy.subscription == *a.subscription.latest());
        } else if (cached) {
            QCOMPARE(*a.defaults->data(AppGroupKey::cachedSubscription), oldCache);
        }
        for (const QString &text : logs.texts())
            QVERIFY2(!text.contains(kToken), "the token reached the log");
    }

    void aUserRecordRefresh_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<bool>("latest");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("line");
        QTest::newRow("record") << FakeReply::json(200, kMeReply) << true << QString()
                                << u"refresh ok: hasTelegram=true hasApple=false"_s;
        QTest::newRow("401") << FakeReply::json(401) << false << QString() << u"refresh 401: session cleared"_s;
        QTest::newRow("502 keeps the record") << FakeReply::json(502) << true << u"server 502"_s
                                              << u"refresh failed: server 502"_s;
    }
    void aUserRecordRefresh()
    {
        QFETCH(FakeReply, reply);
        QFETCH(bool, latest);
        QFETCH(QString, error);
        QFETCH(QString, line);
        m_fake->script(FakeService::anyHost, "GET", kMePath, {FakeReply::json(200, kMeReply)});
        Account a(m_client);
        await(a.me.refresh());
        QVERIFY(a.me.latest() && a.me.latest()->telegramId == 7);
        m_fake->script(FakeService::anyHost, "GET", kMePath, {reply});
        LogCapture logs;

        await(a.me.refresh());
        QCOMPARE(a.me.hasLatest(), latest);
        QCOMPARE(errorText(a.me.error()), error);
        QCOMPARE(logs.texts(u"Me"_s), QStringList{line});
        QCOMPARE(a.sessionEnds, latest ? 0 : 1);
    }

    // A refresh asked for while one runs returns at once; a session end during a
    // refresh leaves the store empty when the late answer arrives.
    void aSessionEndDropsARefreshInFlight_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("subscription") << kSubscriptionPath << subscriptionReply(u"https://sub.example/new"_s);
        QTest::newRow("user record") << kMePath << kMeReply;
    }
    void aSessionEndDropsARefreshInFlight()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        m_fake->script(FakeService::anyHost, "GET", path, {FakeReply::json(200, body, 300ms)});
        Account a(m_client);
        const bool subscription = path == kSubscriptionPath;
        const auto refresh = [&] {
            if (subscription)
                return a.subscription.refresh();
            return a.me.refresh();
        };
        const auto isLoading = [&] { return subscription ? a.subscription.isLoading() : a.me.isLoading(); };
        const auto hasLatest = [&] { return subscription ? a.subscription.hasLatest() : a.me.hasLatest(); };

        test::Pending<void> first(refresh());
        QVERIFY(isLoading());
        QCoro::Task<void> second = refresh();
        QVERIFY(second.isReady());
        QVERIFY(m_fake->waitForRequests(1));
        a.auth.clearSession();
        QVERIFY(!isLoading());

        QVERIFY(first.waitDone());
        QCOMPARE(m_fake->requestCount(), 1);
        QVERIFY(!isLoading() && !hasLatest());
        QVERIFY(!a.defaults->contains(AppGroupKey::cachedSubscription));
        QVERIFY(!a.defaults->contains(AppGroupKey::subscriptionURL));
    }

    // The user record and the subscription are both refused: the first answer ends the
    // session, whose reset makes the second one count for nothing.
    void twoRefusalsEndTheSessionOnce()
    {
        m_fake->script(FakeService::anyHost, "GET", kSubscriptionPath, {FakeReply::json(401, {}, 100ms)});
        m_fake->script(FakeService::anyHost, "GET", kMePath, {FakeReply::json(401, {}, 100ms)});
        Account a(m_client);
        LogCapture logs;
        test::Pending<void> subscription(a.subscription.refresh());
        test::Pending<void> me(a.me.refresh());
        QVERIFY(subscription.waitDone() && me.waitDone());
        QCOMPARE(a.sessionEnds, 1);
        QCOMPARE(logs.count(u"refresh 401: session cleared"_s), 1);
        QTRY_COMPARE(a.tokens->deletes, 1);
        QVERIFY(!a.tokens->token);
        QCOMPARE(a.auth.statusKind(), AuthState::StatusKind::anonymous);
        QCOMPARE(errorText(a.auth.lastError()), u"401 unauthorized"_s);
    }

    void equalRepliesNotifyOnce()
    {
        m_fake->script(FakeService::anyHost, "GET", kSubscriptionPath,
                       {FakeReply::json(200, subscriptionReply(u"https://sub.example/a"_s))});
        Account a(m_client);
        QSignalSpy latest(&a.subscription, &SubscriptionStore::latestChanged);
        QSignalSpy error(&a.subscription, &SubscriptionStore::errorChanged);
        await(a.subscription.refresh());
        await(a.subscription.refresh());
        QCOMPARE(latest.count(), 1);
        QCOMPARE(error.count(), 2);
    }

    // Plan ids are the service's own (never key-converted); one plan that does not
    // decode fails the whole list, with the client's decoding line.
    void theTariffList_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QString>("line"); // the decoding line's start, or empty
        const QByteArray plan = R"({"months":3,"rub":810,"stars":450,"usdt":9.5,"monthly_quota_gb":100})";
        QTest::newRow("two plans") << QByteArray(R"({"Plan_3M":)" + plan + R"(,"plan_1m":)" + plan + "}")
                                   << QStringList{u"Plan_3M"_s, u"plan_1m"_s} << QString();
        QTest::newRow("no plans") << QByteArray("{}") << QStringList() << QString();
        QTest::newRow("a plan without its quota")
            << QByteArray(R"({"plan_3m":)" + plan + R"(,"plan_1m":{"months":1,"rub":300,"stars":150,"usdt":3.2}})")
            << QStringList() << u"decode /payment/tariffs → decode keyNotFound monthlyQuotaGb"_s;
    }
    void theTariffList()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, ids);
        QFETCH(QString, line);
        m_fake->script(FakeService::anyHost, "GET", u"/payment/tariffs"_s, {FakeReply::json(200, body)});
        PaymentsService payments(m_client);
        LogCapture logs;
        try {
            const Tariffs tariffs = await(payments.fetchTariffs());
            QVERIFY(line.isEmpty());
            QCOMPARE(tariffs.keys(), ids);
            if (!ids.isEmpty())
                QVERIFY(tariffs.value(u"Plan_3M"_s) == (Tariff{3, 810, 450, 9.5, 100}));
        } catch (const APIError &e) {
            QCOMPARE(e.kind(), APIError::Kind::decoding);
            QVERIFY(!line.isEmpty());
            QVERIFY2(logs.texts(u"APIClient"_s).join(u'\n').contains(line), qPrintable(logs.texts().join(u'\n')));
        }
        QCOMPARE(m_fake->requests().first().header("Authorization"), "Bearer " + kToken.toUtf8());
    }

    void invoicesArePostsWithThePlanID_data()
    {
        QTest::addColumn<bool>("stars");
        QTest::addColumn<QString>("path");
        QTest::newRow("Telegram Stars") << true << u"/payment/stars/invoice"_s;
        QTest::newRow("CryptoBot") << false << u"/payment/cryptobot/invoice"_s;
    }
    void invoicesArePostsWithThePlanID()
    {
        QFETCH(bool, stars);
        QFETCH(QString, path);
        m_fake->script(FakeService::anyHost, "POST", path,
                       {FakeReply::json(200, "{\"payment_id\":\"p-1\",\"invoice_url\":\"https:\\/\\/t.me\\/$inv\"}")});
        PaymentsService payments(m_client);
        QCoro::Task<InvoiceOut> call = stars ? payments.createStarsInvoice(u"Plan_3M"_s) : payments.createCryptoInvoice(u"Plan_3M"_s);
        QVERIFY(await(std::move(call)) == (InvoiceOut{u"p-1"_s, u"https://t.me/$inv"_s}));
        const RecordedRequest request = m_fake->requests().first();
        QCOMPARE(request.method, "POST");
        QCOMPARE(request.body, R"({"plan_id":"Plan_3M"})");
        QCOMPARE(request.header("Authorization"), "Bearer " + kToken.toUtf8());
    }

    // The waiting state over the app's store: the renewal shows once the service
    // reports the later expiry.
    void aRenewalShowsInTheSubscription()
    {
        m_fake->script(FakeService::anyHost, "GET", kSubscriptionPath, {FakeReply::json(200, subscriptionReply(u"https://s/a"_s))});
        Account a(m_client);
        await(a.subscription.refresh());
        PaymentWaitingState waiting(&a.subscription, 3000ms, 40, a.clock);
        waiting.start();
        a.clock->advance(3000ms);
        QTRY_VERIFY(!a.subscription.isLoading());
        QCOMPARE(waiting.phase(), PaymentWaitingState::Phase::waiting);
        m_fake->script(FakeService::anyHost, "GET", kSubscriptionPath,
                       {FakeReply::json(200, subscriptionReply(u"https://s/a"_s, u"1743854400"_s))});
        a.clock->advance(3000ms);
        QTRY_COMPARE(waiting.phase(), PaymentWaitingState::Phase::confirmed);
        QCOMPARE(waiting.attempt(), 2);
    }
};

QTEST_GUILESS_MAIN(AccountStoresTest)
#include "itst_account_stores.moc"
