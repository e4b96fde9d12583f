#pragma once

#include "account/AppleAuthService.h"
#include "account/AuthService.h"
#include "account/AuthState.h"
#include "account/GoogleAuthService.h"
#include "account/MeStore.h"
#include "account/PaymentsService.h"
#include "account/SubscriptionStore.h"
#include "app/AppOptions.h"
#include "catalog/ConnectionStore.h"
#include "catalog/EntryStore.h"
#include "catalog/RegionStore.h"
#include "connectivity/KovraConnectivityController.h"
#include "connectivity/SystemNetworkPathMonitor.h"
#include "core/APIClient.h"
#include "core/AppGroupStore.h"
#include "core/ClientVersion.h"
#include "platform/Http.h"
#include "tunnel/TunnelController.h"
#include "tunnel/TunnelEnvironment.h"
#include "ui/account/AccountScreens.h"
#include "ui/diagnostics/DiagnosticsViewOptions.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

namespace kovra {

class KovraApp;

// The long-lived objects of the app, built once by the start-up (KovraApp) and
// kept for the life of the process. Views get it handed down as a property of the
// window, never as a global. It also owns what those objects stand on: the HTTP
// sessions, the API clients, the sign-in and catalogue services, the tunnel
// environment and the path monitor. Lives on the GUI thread.
class AppDependencies : public QObject {
    Q_OBJECT
    Q_PROPERTY(kovra::AuthState *authState READ authState CONSTANT)
    Q_PROPERTY(kovra::TunnelController *tunnelController READ tunnelController CONSTANT)
    Q_PROPERTY(kovra::SubscriptionStore *subscriptionStore READ subscriptionStore CONSTANT)
    Q_PROPERTY(kovra::PaymentsService *paymentsService READ paymentsService CONSTANT)
    Q_PROPERTY(kovra::MeStore *meStore READ meStore CONSTANT)
    Q_PROPERTY(kovra::AppleAuthService *appleService READ appleService CONSTANT)
    Q_PROPERTY(kovra::GoogleAuthService *googleService READ googleService CONSTANT)
    Q_PROPERTY(kovra::RegionStore *regionStore READ regionStore CONSTANT)
    Q_PROPERTY(kovra::EntryStore *entryStore READ entryStore CONSTANT)
    Q_PROPERTY(kovra::ConnectionStore *connectionStore READ connectionStore CONSTANT)
    Q_PROPERTY(kovra::ClientUpdateStore *clientUpdateStore READ clientUpdateStore CONSTANT)
    Q_PROPERTY(kovra::KovraConnectivityController *connectivity READ connectivity CONSTANT)
    Q_PROPERTY(kovra::AppGroupStore appGroup READ appGroup CONSTANT)
public:
    ~AppDependencies() override;

    AuthState *authState() const { return m_authState.get(); }
    TunnelController *tunnelController() const { return m_tunnelController.get(); }
    SubscriptionStore *subscriptionStore() const { return m_subscriptionStore.get(); }
    PaymentsService *paymentsService() const { return m_paymentsService.get(); }
    MeStore *meStore() const { return m_meStore.get(); }
    AppleAuthService *appleService() const { return m_appleService.get(); }
    GoogleAuthService *googleService() const { return m_googleService.get(); }
    RegionStore *regionStore() const { return m_regionStore.get(); }
    EntryStore *entryStore() const { return m_entryStore.get(); }
    ConnectionStore *connectionStore() const { return m_connectionStore.get(); }
    ClientUpdateStore *clientUpdateStore() const { return m_clientUpdateStore.get(); }
    KovraConnectivityController *connectivity() const { return m_connectivity.get(); }
    AppGroupStore appGroup() const { return *m_appGroup; }

    // What the start-up was given.
    const AppOptions &options() const { return m_options; }
    // The process-wide handle on the app group's defaults (the active base URL).
    const std::shared_ptr<Defaults> &sharedGroupDefaults() const { return m_sharedGroupDefaults; }
    APIClient *apiClient() const { return m_api.get(); }
    TunnelEnvironment *tunnelEnvironment() const { return m_tunnelEnvironment.get(); }
    SystemExtensionActivator *extensionActivator() const { return &m_tunnelEnvironment->activator(); }
    const std::shared_ptr<NetworkPathMonitoring> &pathMonitor() const { return m_pathMonitor; }
    const std::shared_ptr<UrlOpener> &urlOpener() const { return m_urlOpener; }

    // The diagnostics sheet's options: the app's folders, base URLs and targets, the
    // path sources; every other member at the sheet's own default.
    ui::DiagnosticsViewOptions diagnosticsViewOptions() const;
    // What the account screens are made from.
    ui::AccountServices accountServices() const;

    // The session reset run when the session ends: starts the tunnel's stop (a user
    // stop) for the next turn of the event loop, empties the subscription and user
    // stores and removes the session keys of the app group in one write. Everything
    // but the stop is done when it returns. May run any number of times.
    void handleSessionInvalidated();
    // The hook installed on AuthState: handleSessionInvalidated() while this container
    // exists, else nothing.
    std::function<void()> sessionInvalidatedReset();

private:
    friend class KovraApp;
    explicit AppDependencies(AppOptions options, QObject *parent = nullptr);

    static QCoro::Task<void> stopTunnel(QPointer<TunnelController> tunnel);

    AppOptions m_options;
    bool m_tearingDown = false;
    std::shared_ptr<UrlOpener> m_urlOpener;
    std::shared_ptr<Defaults> m_sharedGroupDefaults;
    // Members go in reverse order: each object after what it stands on.
    std::unique_ptr<HttpSession> m_defaultSession;
    std::unique_ptr<HttpSession> m_fallbackSession;
    std::unique_ptr<TunnelEnvironment> m_tunnelEnvironment;
    std::unique_ptr<APIClient> m_api;
    std::optional<AppGroupStore> m_appGroup;
    std::unique_ptr<AppleAuthService> m_appleService;
    std::unique_ptr<GoogleAuthService> m_googleService;
    std::shared_ptr<AuthService> m_authService;
    std::unique_ptr<AuthState> m_authState;
    std::unique_ptr<TunnelController> m_tunnelController;
    std::unique_ptr<SubscriptionStore> m_subscriptionStore;
    std::unique_ptr<PaymentsService> m_paymentsService;
    std::unique_ptr<MeStore> m_meStore;
    std::unique_ptr<RegionStore> m_regionStore;
    std::unique_ptr<EntryStore> m_entryStore;
    std::unique_ptr<ConnectionStore> m_connectionStore;
    std::unique_ptr<ClientUpdateStore> m_clientUpdateStore;
    std::shared_ptr<NetworkPathMonitoring> m_pathMonitor;
    std::unique_ptr<KovraConnectivityController> m_connectivity;
};

} // namespace kovra
