#include "tunnel/VPNToggleIntent.h"

#include "core/AppGroupStore.h"
#include "core/TunnelStopReason.h"

#include <cstdio>

namespace kovra {

void VPNToggleIntent::perform(const PlatformPaths &paths) const
{
    AppGroupStore store(paths);
    perform(store);
}

void VPNToggleIntent::perform(AppGroupStore &store, const Clock &clock) const
{
    store.setPendingVPNCommand(value ? QStringLiteral("connect") : QStringLiteral("disconnect"));
    if (value)
        return;
    store.defaults()->set(AppGroupKey::wantsConnected, false);
    store.setCodable(std::optional(TunnelStopReason{
                         .providerReasonRawValue = std::nullopt,
                         .source = TunnelStopReason::Source::userStop,
                         .recordedAt = clock.now(),
                         .isPending = true,
                     }),
                     AppGroupKey::lastStopReason);
    store.defaults()->synchronize();
}

bool isToggleCommandLine(const QStringList &args)
{
    return args.contains(QStringLiteral("--vpn"));
}

int runToggleCommandLine(const QStringList &args, const PlatformPaths &paths)
{
    const QStringList options = args.mid(1);
    if (options.size() == 2 && options[0] == QLatin1String("--vpn")
        && (options[1] == QLatin1String("on") || options[1] == QLatin1String("off"))) {
        VPNToggleIntent{.value = options[1] == QLatin1String("on")}.perform(paths);
        return 0;
    }
    std::fputs(kToggleUsageLine, stderr);
    return 2;
}

} // namespace kovra
