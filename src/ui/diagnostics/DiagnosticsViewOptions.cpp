#include "ui/diagnostics/DiagnosticsViewOptions.h"

#include "core/AppGroupStore.h"
#include "platform/gui/Clipboard.h"

namespace kovra::ui {

DiagnosticsViewOptions DiagnosticsViewOptions::withDefaults() &&
{
    DiagnosticsViewOptions o = std::move(*this);
    if (!o.clock)
        o.clock = Clock::system();
    if (!o.clipboard)
        o.clipboard = Clipboard::system();
    if (!o.runner.clock)
        o.runner.clock = o.clock;
    if (!o.controlPlane.clock)
        o.controlPlane.clock = o.clock;
    if (!o.triage.clock)
        o.triage.clock = o.clock;
    o.controlPlane.baseURLs = o.baseURLs;
    o.triage.baseURLs = o.baseURLs;
    o.upload.baseURLs = o.baseURLs;
    if (!o.controlPlaneRun)
        o.controlPlaneRun = ControlPlaneReachability::run;
    if (!o.appGroupFactory)
        o.appGroupFactory = [paths = o.paths] { return std::make_unique<AppGroupStore>(paths); };
    if (!o.loaders.startupFailure)
        o.loaders.startupFailure = [](const AppGroupContainer &c) { return LastStartupFailureDiagnostics::load(c); };
    if (!o.loaders.lastStartup)
        o.loaders.lastStartup = [](const AppGroupContainer &c) { return LastStartupDiagnostics::load(c); };
    if (!o.loaders.fetchedConfig)
        o.loaders.fetchedConfig = [](const AppGroupContainer &c) { return FetchedConfigDiagnostics::load(c); };
    return o;
}

} // namespace kovra::ui
