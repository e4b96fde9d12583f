#pragma once

#include "account/AuthState.h"
#include "account/GoogleSignInConfig.h"
#include "account/SubscriptionStore.h"
#include "app/ExternalTargets.h"
#include "ui/main/ConnectCoordinator.h"
#include "catalog/RegionStore.h"
#include "connectivity/KovraConnectivityController.h"
#include "core/APIClient.h"
#include "platform/NetworkPath.h"
#include "platform/PlatformPaths.h"
#include "platform/UrlOpener.h"
#include "ui/account/AccountScreens.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>

namespace kovra {

// Everything the start-up takes from outside the process, with the product's values
// as defaults. The executable fills it once with fromEnvironment(); tests fill it
// directly (private folders, a keychain service of their own, loopback targets,
// scaled intervals). Nothing built from it reads the environment.
struct AppOptions {
    // The base folders: defaults suites, saved tunnel configurations, app-group
    // containers, the provider's socket. Required.
    PlatformPaths paths;
    // The service's three API base URLs, in host order.
    QList<QUrl> baseURLs = APIClient::builtInBaseURLs();
    // The provider's socket instead of the one below paths.runtimeDir; empty: none.
    QString tunnelSocketOverride;
    // The keychain service holding the session token ("jwt").
    QString keychainService = QStringLiteral("com.kovra.client-sign-box");
    // Every public target of the probes and diagnostics.
    ExternalTargets targets;
    // The Google sign-in client; none: the built-in one, overridden by
    // GoogleSignInConfig::configFile(paths).
    std::optional<GoogleSignInConfig> googleSignIn;
    // The support bot and the privacy page the account screens open.
    ui::AccountLinks accountLinks{QStringLiteral("KovraSupportBot"), QUrl(QStringLiteral("https://t.me/KovraSupportBot")),
                                  QUrl(QStringLiteral("https://kovra.example/privacy"))};
    // Opens sign-in and payment links; null: the desktop's opener.
    std::shared_ptr<UrlOpener> urlOpener;
    // The network path sources of the path monitor and the diagnostics; empty: rtnetlink.
    NetworkPathSourceFactory pathSources;

    // Intervals and clocks, at their product values.
    AuthStateOptions auth;
    SubscriptionStoreOptions subscriptions;
    RegionStoreOptions regions{std::chrono::milliseconds(5000), 90};
    KovraConnectivityControllerOptions connectivity;
    // Bound on each reachability request of the engine's probe passes.
    std::chrono::milliseconds reachabilityTimeout{3000};
    ConnectCoordinatorOptions connect;
    std::chrono::milliseconds warmupTimeout{6000};

    // The product's options with the local-run overrides of the environment:
    // KOVRA_API_BASE_URLS (three comma-separated base URLs; anything else is logged
    // and ignored), KOVRA_TUNNEL_SOCKET, KOVRA_KEYCHAIN_SERVICE and KOVRA_TARGETS_FILE
    // (see ExternalTargets::load), and the XDG folders. Throws StartupError naming the
    // targets file when it is set but missing or malformed.
    static AppOptions fromEnvironment();
};

} // namespace kovra
