#include "account/KeychainStore.h"
#include "app/KovraApp.h"
#include "platform/Log.h"
#include "tunnel/ProviderConfiguration.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include "support/Await.h"
#include "support/FakeProvider.h"
#include "support/FakeService.h"
#include "support/FixedPathSource.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace std::chrono_literals;
using test::FakeReply;

namespace {

const QByteArray kSubscription =
    "{\"subscription_url\":\"https://sub.example/u\",\"status\":\"active\",\"data_limit_bytes\":0,\"used_bytes\":0}";
const QByteArray kStartSession = "{\"nonce\":\"n-1\",\"deep_link\":\"tg://resolve?domain=bot&start=n-1\","
                                 "\"https_link\":\"https://t.me/bot?start=n-1\",\"expires_in_seconds\":300}";
constexpr int kAnyHost = test::FakeService::anyHost;
const QStringList kSurvivors{AppGroupKey::hasSeenVPNPriming, AppGroupKey::lastSubscriptionCheck, AppGroupKey::deviceID,
                             AppGroupKey::migratedLegacyGuard};

// The app over the fake service and the fake provider, in a private home with a
// keychain service of its own; every public target on a loopback port nothing listens
// on. `tune` adjusts the options and the stored state before the start.
struct AppRig {
    explicit AppRig(std::optional<QString> token = {}, const std::function<void(AppRig &)> &tune = {})
    {
        if (token)
            test::await(KeychainStore(keychain).saveJWT(*token));
        for (ReachabilityService &s : options.targets.reachability)
            s.url = test::FakeService::closedPortURL(QStringLiteral("/")).toString();
        options.paths = home.paths();
        options.baseURLs = service.baseURLs();
        options.tunnelSocketOverride = provider.socketPath();
        options.keychainService = keychain;
        options.pathSources = test::FixedPathSource::wifi();
        if (tune)
            tune(*this);
        app = std::make_unique<KovraApp>(options);
        test::await(app->restoreSession());
    }
    ~AppRig()
    {
        app.reset();
        test::await(KeychainStore(keychain).deleteJWT());
    }
    AppDependencies &deps() const { return *app->dependencies(); }
    // What the home window does first: the controller attached to a saved configuration.
    void attachTunnel(int status)
    {
        provider.setStatus(status);
        test::saveConfiguration(deps().tunnelEnvironment()->preferences(), kPacketTunnelBundleID);
        test::await(deps().tunnelController()->attach());
        QTRY_COMPARE(int(deps().tunnelController()->status()), status);
    }
    std::shared_ptr<Defaults> defaults() const { return Defaults::suite(home.paths(), AppGroupStore::kSuiteName); }
    void fillAppGroup() const
    {
        for (const QString &key : AppGroupStore::catalogueKeys() + kSurvivors)
            defaults()->set(key, true);
    }
    // The session keys (else the survivors) in the app group's file, as the provider reads it.
    QStringList onDisk(const QStringList &among = AppGroupStore::sessionKeys()) const
    {
        QFile file(home.paths().configFolder() + u'/' + AppGroupStore::kSuiteName + QStringLiteral(".json"));
        const QStringList keys = file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object().keys() : QStringList();
        QStringList found = among;
        found.removeIf([&keys](const QString &key) { return !keys.contains(key); });
        return found;
    }

    test::TestHome home{test::TestHome::PathsOnly};
    test::FakeService service;
    test::FakeProvider provider;
    QString keychain = test::uniqueName(QStringLiteral("kovra-app"));
    AppOptions options;
    std::unique_ptr<KovraApp> app;
};

} // namespace

class AppStartupTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The catalogue stores start from their caches in the container's app group (what a
    // cache does with what it finds is the cache's own test); provider status → tunnel
    // controller → coordinator → engine; the container's path monitor → engine.
    void wiring()
    {
        // Only the automatic route: an engine that gives up has nowhere to walk.
        const QList<Connection> connections = Connection::fallback().mid(0, 1);
        const QList<Region> regions = Region::fallback().mid(1, 2);
        AppRig rig({}, [&](AppRig &r) {
            r.options.connectivity.settleDelay = r.options.connectivity.pathChangeDebounce = 0ms;
            r.options.connectivity.confirmInterval = 20ms;
            r.options.connectivity.settledTick = 1h;
            r.defaults()->set(AppGroupKey::connectionsCatalogJSON, JsonEncoder().encode(connections));
            r.defaults()->set(AppGroupKey::regionCatalogJSON, JsonEncoder().encode(regions));
            r.defaults()->set(AppGroupKey::entryCatalogJSON, QByteArray("[]"));
        });
        QCOMPARE(std::tuple(rig.deps().connectionStore()->connections(), rig.deps().regionStore()->regions(),
                            rig.deps().entryStore()->entries()),
                 std::tuple(connections, regions, Entry::fallback()));
        LogCapture log;
        rig.attachTunnel(1);
        rig.provider.setStatus(3);
        QTRY_COMPARE(rig.app->connect()->effectiveStatus(), VPNStatus::Connected);
        // Every probe fails: settle, three confirmations, nothing to walk to.
        QTRY_COMPARE_WITH_TIMEOUT(rig.deps().connectivity()->state(), EngineState::exhausted, 10000);
        rig.deps().pathMonitor()->changeHandler()();
        QTRY_VERIFY(log.contains(QStringLiteral("rearm: network-path-change")));
    }

    // A refused user record ends the session, then a sign-out ends it again: each time
    // the stores and the 28 keys are cleared before the provider hears of the stop.
    void sessionEnds()
    {
        AppRig rig(QStringLiteral("token-a"));
        rig.service.script(kAnyHost, "GET", QStringLiteral("/me/subscription"), {FakeReply::json(200, kSubscription)});
        rig.service.script(kAnyHost, "GET", QStringLiteral("/me"), {FakeReply::json(401)});
        test::await(rig.deps().subscriptionStore()->refresh());
        rig.attachTunnel(3);
        rig.fillAppGroup();
        QList<QStringList> atStop; // the session keys on disk as each stop arrives
        QObject::connect(&rig.provider, &provider::ProviderServer::requestReceived, &rig.provider,
                         [&](const provider::ProviderServer::Request &r) {
                             if (r.method == u"stop")
                                 atStop << rig.onDisk();
                         });
        test::await(rig.deps().meStore()->refresh());
        QCOMPARE(rig.service.requests().last().header("Authorization"), QByteArray("Bearer token-a"));
        QCOMPARE(rig.onDisk(), QStringList());
        QVERIFY(!rig.deps().subscriptionStore()->hasLatest());
        AuthState *auth = rig.deps().authState();
        auth->clearSession();
        QVERIFY(rig.provider.waitForRequests(QStringLiteral("stop"), 2));
        QCOMPARE(atStop, (QList<QStringList>{{}, {}}));
        QCOMPARE(rig.onDisk(kSurvivors), kSurvivors);

        // Once the container is gone the hook does nothing.
        const std::function<void()> hook = auth->onSessionInvalidated();
        const std::shared_ptr<Defaults> defaults = rig.defaults();
        rig.app.reset();
        defaults->set(AppGroupKey::subscriptionURL, QStringLiteral("kept"));
        hook();
        QCOMPARE(defaults->string(AppGroupKey::subscriptionURL), QStringLiteral("kept"));
    }

    // The connect item's title in every effective status (set here as optimistic ones).
    void connectTitle()
    {
        AppRig rig;
        const QString on = QStringLiteral("Подключиться"), off = QStringLiteral("Отключиться");
        const QStringList expected{on, on, off, off, off, on};
        QCOMPARE(rig.app->commands()->connectTitle(), on); // invalid: no tunnel configuration
        for (int status = 5; status >= 0; --status) {
            rig.app->connect()->hero()->setOptimistic(VPNStatus(status));
            QCOMPARE(rig.app->commands()->connectTitle(), expected.at(status));
        }
    }

    // Signed in: the subscription, then the catalogue. During a Telegram sign-in only
    // the catalogue (refused before it is sent, with no token), and the sign-in goes on:
    // the subscription call would have been refused and ended the session.
    void refreshCommand()
    {
        for (const bool signedIn : {true, false}) {
            AppRig rig(signedIn ? std::optional(QStringLiteral("token-r")) : std::nullopt);
            rig.service.script(kAnyHost, "GET", QStringLiteral("/me/subscription"), {FakeReply::json(200, kSubscription, 150ms)});
            rig.service.script(kAnyHost, "POST", QStringLiteral("/auth/start_session"), {FakeReply::json(200, kStartSession)});
            rig.service.script(kAnyHost, "GET", QStringLiteral("/auth/poll/n-1"), {FakeReply::json(202, "{}")});
            AuthState *auth = rig.deps().authState();
            if (!signedIn)
                test::await(auth->beginTelegramLink());
            const AuthState::StatusKind before = auth->statusKind();
            LogCapture log;
            test::await(rig.app->commands()->refreshAll());
            QVERIFY(!log.texts(QStringLiteral("Connections")).isEmpty());
            const QList<test::RecordedRequest> sent = rig.service.requests();
            if (signedIn) { // one after the other
                QCOMPARE(sent.size() == 2 ? sent[0].path + sent[1].path : QString(), QStringLiteral("/me/subscription/connections"));
                QVERIFY(sent[1].atMs - sent[0].atMs >= 150);
            }
            QCOMPARE(std::tuple(auth->statusKind(), auth->hasLastError(), auth->hasPollingTask()),
                     std::tuple(before, false, !signedIn));
        }
    }

    void warmupEndsWhenHidden()
    {
        AppRig rig({}, [](AppRig &r) { r.options.warmupTimeout = 60s; });
        rig.service.script(0, "GET", QStringLiteral("/regions"), {FakeReply::silent()});
        rig.service.script(1, "GET", QStringLiteral("/regions"), {FakeReply::json(200, "[]")});
        rig.app->mainContentShown();
        QVERIFY(rig.service.waitForRequests(1));
        rig.app->mainContentHidden();
        QVERIFY(rig.service.waitForClosedEarly(1, 5s));
        // Shown again: a new run; the cancelled one never went on to the second host.
        rig.service.script(0, "GET", QStringLiteral("/regions"), {FakeReply::json(200, "[]")});
        rig.app->mainContentShown();
        QTRY_COMPARE(rig.deps().sharedGroupDefaults()->string(AppGroupKey::activeBaseURL),
                     rig.service.baseURLs().at(0).toString());
        QCOMPARE(rig.service.requestCount(), 2);
        QCOMPARE(rig.service.requests().last().host, 0);
    }

};

QTEST_GUILESS_MAIN(AppStartupTest)
#include "itst_app_startup.moc"
