#include "app/KovraApp.h"

#include "account/KeychainStore.h"
#include "account/MeService.h"
#include "account/SubscriptionService.h"
#include "catalog/ConnectionsService.h"
#include "catalog/EntriesService.h"
#include "catalog/RegionsService.h"
#include "connectivity/AppReachabilityProbe.h"
#include "connectivity/EngineConnections.h"
#include "core/NetworkWarmup.h"
#include "platform/DesktopUrlOpener.h"
#include "platform/Keychain.h"
#include "platform/Log.h"

#include <stdexcept>

namespace kovra {

namespace {

// Without a session bus the keyring cannot be reached: said once, as the app starts.
// Never throws.
QCoro::Task<void> reportMissingSessionBus()
{
    try {
        const std::optional<QString> problem = co_await Keychain::sessionBusProblem();
        if (problem)
            Logger(QStringLiteral("App")).error(
                QStringLiteral("no D-Bus session bus (%1): the keyring (Secret Service) cannot be reached, so a "
                               "sign-in cannot be saved")
                    .arg(*problem));
    } catch (...) {
    }
}

} // namespace

std::unique_ptr<APIClient> KovraApp::makeAPIClient(const AppOptions &options, APIClient::Sessions sessions)
{
    auto keychain = std::make_shared<KeychainStore>(options.keychainService);
    // Opening the app group runs its one-time migration before the client reads it.
    AppGroupStore store(options.paths);
    return std::make_unique<APIClient>(sessions, options.baseURLs, std::move(keychain), std::move(store));
}

KovraApp::KovraApp(AppOptions options, QObject *parent) : QObject(parent)
{
    if (options.paths.configHome.isEmpty())
        throw std::invalid_argument("the app needs its base folders");

    // 1. The container; everything below is stored in it as soon as it exists.
    m_dependencies.reset(new AppDependencies(std::move(options)));
    AppDependencies &d = *m_dependencies;
    const AppOptions &o = d.m_options;
    d.m_urlOpener = o.urlOpener ? o.urlOpener : std::make_shared<DesktopUrlOpener>();
    d.m_sharedGroupDefaults = openSharedGroupDefaults(o.paths);
    d.m_defaultSession = APIClient::makeDefaultSession();
    d.m_fallbackSession = APIClient::makeFallbackSession();
    const APIClient::Sessions sessions{d.m_defaultSession.get(), d.m_fallbackSession.get()};
    const auto keychain = [&o] { return std::make_shared<KeychainStore>(o.keychainService); };

    // 2-4. The shared API client: its own keychain store and app-group store.
    d.m_api = makeAPIClient(o, sessions);
    APIClient *api = d.m_api.get();
    // 5. The container's app-group store.
    d.m_appGroup.emplace(o.paths);
    // 6. The sign-in services, each with a keychain store of its own.
    d.m_appleService = std::make_unique<AppleAuthService>(api, keychain());
    const GoogleSignInConfig google =
        o.googleSignIn ? *o.googleSignIn : GoogleSignInConfig::load(GoogleSignInConfig::configFile(o.paths));
    d.m_googleService = std::make_unique<GoogleAuthService>(api, keychain(), google);
    d.m_authService = std::make_shared<AuthService>(api, keychain());
    // 7. The session state over a third app-group store; the session hook goes in
    // right away, so no session end can pass it by.
    d.m_authState = std::make_unique<AuthState>(d.m_authService, keychain(), AppGroupStore(o.paths), d.m_urlOpener,
                                                o.auth);
    d.m_authState->setOnSessionInvalidated(d.sessionInvalidatedReset());
    // 8. The tunnel controller on the tunnel environment of the folders and socket.
    d.m_tunnelEnvironment = std::make_unique<TunnelEnvironment>(o.paths, o.tunnelSocketOverride);
    d.m_tunnelController = std::make_unique<TunnelController>(d.m_tunnelEnvironment->controllerOptions());
    // 9. Account stores and payments.
    d.m_subscriptionStore = std::make_unique<SubscriptionStore>(std::make_shared<SubscriptionService>(api),
                                                                *d.m_appGroup, d.m_authState.get(), o.subscriptions);
    d.m_paymentsService = std::make_unique<PaymentsService>(api);
    d.m_meStore = std::make_unique<MeStore>(std::make_shared<MeService>(api), d.m_authState.get());
    // 10. The catalogue stores; each starts from its cache in the container's app group.
    d.m_regionStore = std::make_unique<RegionStore>(std::make_shared<RegionsService>(api), *d.m_appGroup, o.regions);
    d.m_entryStore = std::make_unique<EntryStore>(std::make_shared<EntriesService>(api), *d.m_appGroup);
    d.m_connectionStore = std::make_unique<ConnectionStore>(
        std::make_shared<ConnectionsService>(api), *d.m_appGroup, d.m_regionStore.get(), d.m_entryStore.get(),
        d.m_tunnelController.get(), d.m_subscriptionStore.get());
    // 11. The client-version check over a second, separate client.
    d.m_clientUpdateStore = std::make_unique<ClientUpdateStore>(
        std::make_shared<ClientVersionService>(makeAPIClient(o, sessions)));
    // 12. The path monitor.
    d.m_pathMonitor = std::make_shared<SystemNetworkPathMonitor>(o.pathSources);
    // 13. The connectivity engine. It installs its own change handler on the path
    // monitor (under the monitor's lock, holding the engine weakly and hopping to
    // the GUI thread), so none is installed here.
    AppReachabilityProbe::Options probe;
    probe.services = o.targets.reachability;
    probe.timeout = o.reachabilityTimeout;
    if (o.connectivity.clock)
        probe.clock = o.connectivity.clock;
    d.m_connectivity = std::make_unique<KovraConnectivityController>(
        std::make_shared<StoreEngineConnections>(d.m_connectionStore.get()), d.m_tunnelController.get(),
        *d.m_appGroup, std::make_shared<AppReachabilityProbe>(probe), nullptr, d.m_pathMonitor, o.connectivity);
    // 14. (The session hook went in with the session state, step 7.)
    // 15. The connect model, and the commands over it.
    m_connect = std::make_unique<ConnectCoordinator>(d.tunnelController(), d.connectivity(),
                                                        d.subscriptionStore(), d.authState(), o.connect);
    m_commands = std::make_unique<AppCommands>(m_connect.get(), d.authState(), d.subscriptionStore(),
                                               d.connectionStore());
}

KovraApp::~KovraApp()
{
    mainContentHidden();
    // The commands and the connect model go before the objects they watch.
    m_commands.reset();
    m_connect.reset();
    m_dependencies.reset();
}

QCoro::Task<void> KovraApp::restoreSession()
{
    // Side by side, both off this thread; neither touches this object after it starts.
    QCoro::Task<void> busCheck = reportMissingSessionBus();
    QCoro::Task<void> restoring = m_dependencies->authState()->restore();
    co_await restoring;
    co_await busCheck;
}

void KovraApp::mainContentShown()
{
    mainContentHidden();
    m_warmup.emplace();
    const NetworkWarmup warmup(m_dependencies->options().baseURLs, m_dependencies->sharedGroupDefaults(),
                               m_dependencies->options().warmupTimeout);
    // Never throws; it refers to nothing here, so it may outlive the app.
    warmup.run(m_warmup->token());
}

void KovraApp::mainContentHidden()
{
    if (!m_warmup)
        return;
    m_warmup->cancel();
    m_warmup.reset();
}

} // namespace kovra
