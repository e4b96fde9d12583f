#pragma once

#include "core/APIClient.h"
#include "diagnostics/ControlPlaneReachability.h"
#include "diagnostics/DiagnosticsRunner.h"
#include "diagnostics/DiagnosticsUploader.h"
#include "diagnostics/ExtensionSnapshots.h"
#include "diagnostics/NetworkTriage.h"
#include "platform/AppGroupContainer.h"
#include "platform/Clock.h"
#include "platform/PlatformPaths.h"
#include "ui/diagnostics/ConnectivityCheckOptions.h"

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

namespace kovra {

class AppGroupStore;
class Clipboard;

namespace ui {

// The readers of the snapshots the tunnel provider leaves in the app group's
// container. They run on a worker thread, one after another, so they must not touch
// GUI-thread objects. Defaults: the loaders of the diagnostics library, without an
// explicit container location.
struct DiagnosticsSnapshotLoaders {
    std::function<std::optional<LastStartupFailureDiagnostics::Snapshot>(const AppGroupContainer &)> startupFailure;
    std::function<std::optional<LastStartupDiagnostics::Snapshot>(const AppGroupContainer &)> lastStartup;
    std::function<std::optional<FetchedConfigDiagnostics::Snapshot>(const AppGroupContainer &)> fetchedConfig;
};

using ControlPlaneRun = std::function<QCoro::Task<ControlPlaneReachability::Report>(ControlPlaneOptions)>;

// What the diagnostics sheet works with. Every member left empty takes the product's
// own; tests replace them.
struct DiagnosticsViewOptions {
    // Where the app group's container and defaults are.
    PlatformPaths paths = PlatformPaths::fromEnvironment();
    // The sheet's one runner is built with these (its clock defaults to `clock`).
    DiagnosticsRunnerOptions runner;
    DiagnosticsSnapshotLoaders loaders;
    // The check of the API hosts without the tunnel, and what it is given (5 s a probe;
    // its clock defaults to `clock`). Default: ControlPlaneReachability::run.
    ControlPlaneRun controlPlaneRun;
    ControlPlaneOptions controlPlane;
    // The network triage (its clock defaults to `clock`) and the sending of its report
    // (default sender: EphemeralRequestSender).
    NetworkTriageOptions triage;
    DiagnosticsUploader::Options upload;
    // The service's API base URLs, as the app's API client has them: the host check,
    // the triage and the upload all take these (their own lists are replaced).
    QList<QUrl> baseURLs = APIClient::builtInBaseURLs();
    // The in-tunnel self-test and its watchdog.
    ConnectivityCheckOptions connectivity;
    // Makes a fresh handle on the app group's defaults; default: one over `paths`.
    std::function<std::unique_ptr<AppGroupStore>()> appGroupFactory;
    std::shared_ptr<Clipboard> clipboard;
    std::shared_ptr<Clock> clock;

    // These options with every empty member set to the product's own.
    DiagnosticsViewOptions withDefaults() &&;
};

} // namespace ui
} // namespace kovra
