#include "app/AppOptions.h"

#include "platform/TunnelWire.h"

namespace kovra {

AppOptions AppOptions::fromEnvironment()
{
    AppOptions options;
    options.paths = PlatformPaths::fromEnvironment();
    options.baseURLs = APIClient::baseURLsFor(qgetenv("KOVRA_API_BASE_URLS"));
    options.tunnelSocketOverride = qEnvironmentVariable(tunnelwire::kSocketOverrideVariable);
    const QString keychainService = qEnvironmentVariable("KOVRA_KEYCHAIN_SERVICE").trimmed();
    if (!keychainService.isEmpty())
        options.keychainService = keychainService;
    const QString targetsFile = qEnvironmentVariable("KOVRA_TARGETS_FILE");
    if (!targetsFile.isEmpty())
        options.targets = ExternalTargets::load(targetsFile);
    return options;
}

} // namespace kovra
