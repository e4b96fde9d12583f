// The development service through the client's own records, services and stores. The
// service and the stores' polls share one manual clock; requests are real.

#include "account/AuthState.h"
#include "account/MeOut.h"
#include "account/PaymentWaitingState.h"
#include "account/PaymentsService.h"
#include "account/SubscriptionService.h"
#include "account/SubscriptionStore.h"
#include "catalog/Connection.h"
#include "catalog/Entry.h"
#include "catalog/RegionStore.h"
#include "catalog/RegionWakeAck.h"
#include "core/APIClient.h"
#include "diagnostics/DiagnosticsUploader.h"
#include "diagnostics/NetworkTriage.h"

#include <QRegularExpression>
#include <QTest>

#include "catalog/CatalogFakes.h"
#include "devservice/DevServiceRun.h"
#include "support/FixedPathSource.h"
#include "support/FixedTokenProvider.h"
#include "support/MemoryTokenStore.h"
#include "support/RecordingUrlOpener.h"

using namespace kovra;
using namespace kovra::test;
using namespace kovra::devservice;
using namespace std::chrono_literals;
using Kind = Endpoint::Kind;

Q_DECLARE_METATYPE(std::optional<kovra::devservice::SubscriptionPlan>)

namespace {

constexpr qint64 kGiB = qint64(1024) * 1024 * 1024;
const QString kOnDemand = QStringLiteral("us-aws");

// A development service and the client's API client over its hosts, with an in-memory
// app group and token store.
struct Flow {
    explicit Flow(DevServiceOptions options = {}) : confirmAfter(options.confirmAfter), run(std::move(options)) {}

    AppGroupStore store() const { return AppGroupStore(defaults, nullptr); }
    // A sign-in through the polls; the token goes to the token store.
    void signIn() { tokens->token = test::signIn(run.base(), confirmAfter); }

    // Lets work scheduled on the shared clock run: whenever a timer is pending and
    // `done` does not hold yet, moves the clock on by `step`. False when nothing was
    // pending for ten seconds or `done` did not come within `maxSteps`.
    bool drive(const std::function<bool()> &done, std::chrono::milliseconds step, int maxSteps = 100)
    {
        for (int i = 0; i < maxSteps; ++i) {
            if (!QTest::qWaitFor([&] { return done() || run.clock->pendingTimers() > 0; }, 10'000))
                return false;
            if (done())
                return true;
            run.clock->advance(step);
        }
        return done();
    }

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

template<class Record>
QString statusIn(const QList<Record> &records, const QString &id)
{
    const auto it = std::find_if(records.begin(), records.end(), [&](const Record &r) { return r.id == id; });
    return it == records.end() ? QString() : rawValue(it->status);
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

    // A Telegram sign-in through the session state, polling every 2 s as the product
    // does, against the service's confirmation count and session lifetime.
    void telegramSignIn_data()
    {
        QTest::addColumn<int>("confirmAfter");
        QTest::addColumn<int>("sessionSeconds");
        QTest::addColumn<QStringList>("polls"); // the service's answers
        QTest::newRow("confirmed before expiry") << 2 << 5 << QStringList{"202", "202", "200"};
        QTest::newRow("nonce expires") << 5 << 5 << QStringList{"202", "202", "202", "410"};
    }

    void telegramSignIn()
    {
        QFETCH(int, confirmAfter);
        QFETCH(int, sessionSeconds);
        QFETCH(QStringList, polls);
        LogCapture log;
        Flow flow(optionsWith([&](auto &o) {
            o.confirmAfter = confirmAfter;
            o.sessionLifetime = std::chrono::seconds(sessionSeconds);
        }));
        AuthState auth(std::make_shared<AuthService>(&flow.api, flow.tokens), flow.tokens, flow.store(),
                       std::make_shared<RecordingUrlOpener>(), AuthState::Options{2s, 60, flow.run.clock});
        QString nonce;
        connect(&auth, &AuthState::statusChanged, this, [&] {
            if (auth.statusKind() == AuthState::StatusKind::linking)
                nonce = auth.status().nonce;
        });

        await(auth.beginTelegramLink());
        QVERIFY(flow.drive([&] { return auth.statusKind() != AuthState::StatusKind::linking; }, 2s));

        const QStringList answers = log.texts(QStringLiteral("DevService"))
                                        .filter(QStringLiteral("GET /api/auth/poll/*** "))
                                        .replaceInStrings(QRegularExpression(QStringLiteral("^\\S+ \\S+ (\\d+) .*$")), QStringLiteral("\\1"));
        QCOMPARE(answers, polls);
        if (polls.last() == u"200") {
            QCOMPARE(auth.statusKind(), AuthState::StatusKind::authenticated);
            QVERIFY(auth.isNewAccount());
            QVERIFY(await(flow.api.send<MeOut>(Endpoint::me())).hasTelegram); // the stored token is the service's
        } else {
            QCOMPARE(auth.statusKind(), AuthState::StatusKind::anonymous);
            QCOMPARE(APIError::kindOf(auth.lastError()), std::optional(APIError::Kind::gone));
            QVERIFY(!flow.tokens->token);
        }
        for (const LogLine &line : log.lines()) {
            QVERIFY(!line.text.contains(nonce));
            QVERIFY(!flow.tokens->token || !line.text.contains(*flow.tokens->token));
        }
    }

    // A woken region reports stopped, then starting, then online; the region store
    // polls it every 5 s and hands it to the selection owner once it is online.
    void wake()
    {
        Flow flow(optionsWith([&](auto &o) { o.wakeAfter = 16s; o.wakeStoppedFor = 7s; }));
        flow.signIn();
        RegionStore store(std::make_shared<RegionsService>(&flow.api), flow.store(), {5s, 90, flow.run.clock});
        RecordingOwner owner;
        store.setSelectionOwner(&owner);
        // The region's status and the number of waking regions at each change, with the
        // seconds since the wake was asked for.
        const QDateTime start = flow.run.clock->now();
        QStringList seen;
        const auto note = [&](const QString &what) { seen << QStringLiteral("%1 s %2").arg(start.secsTo(flow.run.clock->now())).arg(what); };
        connect(&store, &RegionStore::regionsChanged, this, [&] { note(statusIn(store.regions(), kOnDemand)); });
        connect(&store, &RegionStore::wakingChanged, this, [&] { note(QStringLiteral("waking %1").arg(store.waking().size())); });
        await(store.refresh());
        const auto region = std::find_if(store.regions().begin(), store.regions().end(), [](const Region &r) { return r.id == kOnDemand; });
        QVERIFY(region != store.regions().end());
        seen.clear();

        await(store.wake(*region));
        QVERIFY(flow.drive([&] { return !owner.selections.isEmpty(); }, 5s));
        // Polls at 5 s (stopped), 10 and 15 s (starting) and 20 s (online).
        QCOMPARE(seen, (QStringList{"0 s waking 1", "10 s starting", "10 s waking 0", "20 s online"}));
        QCOMPARE(owner.selections, (QList<RecordingOwner::Selection>{{kOnDemand, false, false, false}}));
        QCOMPARE(statusIn(await(flow.api.send<QList<Connection>>(Endpoint::connections())), kOnDemand), QStringLiteral("online"));
    }

    // An invoice of three months, paid 10 s later, as the payment wait sees it through
    // the subscription store (a poll every 3 s, 40 at the most).
    void payment_data()
    {
        QTest::addColumn<std::optional<SubscriptionPlan>>("plan"); // none: what a new account gets
        QTest::addColumn<bool>("stars");
        QTest::addColumn<PaymentWaitingState::Phase>("phase");
        QTest::addColumn<int>("polls");
        QTest::addColumn<QString>("after"); // expiry (seconds after the start), limit and use (GiB)
        const auto confirmed = PaymentWaitingState::Phase::confirmed;
        const auto plan = [](SubscriptionPlan p) { return std::optional(p); };
        QTest::newRow("new account: the 7-day trial") << std::optional<SubscriptionPlan>() << true << confirmed << 4
                                                      << "8380800 300 0";
        QTest::newRow("active: expiry moves") << plan(SubscriptionPlan::active) << true << confirmed << 4 << "10368000 300 0";
        QTest::newRow("expired: from the payment") << plan(SubscriptionPlan::expired) << false << confirmed << 4 << "7776010 300 0";
        QTest::newRow("exhausted: fresh allowance") << plan(SubscriptionPlan::exhausted) << true << confirmed << 4 << "8812800 300 0";
        QTest::newRow("unlimited: nothing changes")
            << plan(SubscriptionPlan::unlimited) << false << PaymentWaitingState::Phase::timedOut << 40 << "- 0 5";
    }

    void payment()
    {
        QFETCH(std::optional<SubscriptionPlan>, plan);
        QFETCH(bool, stars);
        QFETCH(PaymentWaitingState::Phase, phase);
        QFETCH(int, polls);
        QFETCH(QString, after);
        Flow flow(optionsWith([&](auto &o) { o.subscription = plan; o.payAfter = 10s; }));
        flow.signIn();
        const qint64 start = flow.run.clock->now().toSecsSinceEpoch();
        SubscriptionStore subscription(std::make_shared<SubscriptionService>(&flow.api), flow.store(), nullptr, {flow.run.clock});
        await(subscription.refresh());
        QVERIFY(subscription.hasLatest());
        PaymentsService payments(&flow.api);
        const QString quarter = QStringLiteral("month_3");
        const InvoiceOut invoice = stars ? await(payments.createStarsInvoice(quarter)) : await(payments.createCryptoInvoice(quarter));
        QVERIFY(onLoopback(invoice.url));

        PaymentWaitingState waiting(&subscription, 3s, 40, flow.run.clock);
        waiting.start();
        QVERIFY(flow.drive([&] { return waiting.phase() != PaymentWaitingState::Phase::waiting; }, 3s));
        QCOMPARE(waiting.phase(), phase);
        QCOMPARE(waiting.attempt(), polls);
        const SubscriptionOut &s = *subscription.latest();
        QCOMPARE(QStringLiteral("%1 %2 %3")
                     .arg(s.expireUnix ? QString::number(*s.expireUnix - start) : QStringLiteral("-"))
                     .arg(s.dataLimitBytes / kGiB)
                     .arg(s.usedBytes / kGiB),
                 after);
    }

    // The network triage against the service's hosts (their own ports standing in for
    // 443), then the upload of its report.
    void triageAndUpload_data()
    {
        QTest::addColumn<qint64>("cutAt"); // -1: whole bodies
        QTest::addColumn<QString>("echoSteps"); // of every host
        QTest::addColumn<QString>("summary");
        QTest::newRow("whole bodies") << -1ll << "1024 ok, 4096 ok, 16384 ok, 65536 ok" << "все проверки прошли";
        QTest::newRow("cut after 10 000 bytes") << 10'000ll << "1024 ok, 4096 ok, 16384 fail"
                                                << "тело ответа обрывается начиная с 16 КБ";
        QTest::newRow("cut before the first byte") << 0ll << "1024 fail" << "тело ответа обрывается начиная с 1 КБ";
    }

    void triageAndUpload()
    {
        QFETCH(qint64, cutAt);
        QFETCH(QString, echoSteps);
        QFETCH(QString, summary);
        LogCapture log;
        Flow flow(optionsWith([&](auto &o) { o.echoCutAt = cutAt >= 0 ? std::optional(cutAt) : std::nullopt; }));
        flow.signIn();
        flow.defaults->set(AppGroupKey::preferredEntry, QStringLiteral("ru-1"));
        SubscriptionStore subscription(std::make_shared<SubscriptionService>(&flow.api), flow.store(), nullptr, {flow.run.clock});
        await(subscription.refresh()); // stores the subscription URL the triage downloads from

        NetworkTriageOptions triage;
        triage.baseURLs = flow.run.service->baseURLs();
        triage.followBaseURLs = true;
        triage.pathSources = FixedPathSource::wifi();
        const TriageReport report = await(NetworkTriage::run(flow.store(), {}, triage));
        QStringList outline;
        for (const TriageStep &s : report.steps)
            outline << s.name.section(u':', -1) + (s.ok ? QStringLiteral(" ok") : QStringLiteral(" fail"));
        const QString host = QStringLiteral("dns ok, tcp ok, head ok, %1, config ok").arg(echoSteps);
        QCOMPARE(outline.join(QStringLiteral(", ")), QStringList({host, host, host}).join(QStringLiteral(", ")));
        QCOMPARE(report.summary, summary);

        DiagnosticsUploader::Options upload;
        upload.baseURLs = triage.baseURLs;
        const QString incident = await(DiagnosticsUploader::upload(report, flow.store(), upload));
        QVERIFY2(QRegularExpression(QStringLiteral("^DEV-[A-Z0-9]{6}$")).match(incident).hasMatch(), qPrintable(incident));
        QVERIFY(log.contains(QStringLiteral("POST /api/diag 200, incident %1 (host 1)").arg(incident)));
    }
};

QTEST_GUILESS_MAIN(DevServiceClientTest)
#include "itst_dev_service_client.moc"
