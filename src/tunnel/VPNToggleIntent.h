#pragma once

#include "platform/Clock.h"

#include <QStringList>

namespace kovra {

class AppGroupStore;
struct PlatformPaths;

// The system-facing VPN switch ("kovra --vpn on|off"). It does not touch the tunnel:
// it leaves the wish in the app group for the tunnel side to act on.
struct VPNToggleIntent {
    bool value = false;

    // Over a new AppGroupStore below `paths`. Never fails. A stop is recorded at the clock's now.
    void perform(const PlatformPaths &paths) const;
    void perform(AppGroupStore &store, const Clock &clock = *Clock::system()) const;
};

// What a wrong command line of "kovra" gets on stderr.
inline constexpr char kToggleUsageLine[] = "usage: kovra [--vpn on|off]\n";

// True when the arguments (program name first) ask for the VPN switch, so the
// caller runs runToggleCommandLine() before anything else starts.
bool isToggleCommandLine(const QStringList &args);
// Handles "--vpn on" and "--vpn off": writes the command and returns 0. Anything
// else writes nothing, prints a usage line on stderr and returns 2. Opens no window
// and no keychain.
int runToggleCommandLine(const QStringList &args, const PlatformPaths &paths);

} // namespace kovra
