#pragma once

#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "provider-kit/ProviderServer.h"

#include <QJsonObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kovra::devprovider {

// Carries out the VPN switch ("kovra --vpn on|off"), whose command the app leaves in
// the app group for the tunnel side: it looks at the shared defaults every
// `pollInterval` and, for "connect", starts the tunnel (unless it is on) with the
// configuration it last ran with, else with the saved one; for "disconnect" it stops a
// tunnel that is on and records the stop as the user's. The command is removed once
// taken, so the same one can come again.
class VpnCommandWatcher {
public:
    struct Options {
        std::chrono::milliseconds pollInterval{300};
        // The saved VPN configurations ("vpn-configurations.json").
        QString configurationsFile;
        std::shared_ptr<Clock> clock = Clock::system();
        // Told of each start it makes, with the start request it stands for.
        std::function<void(const QJsonObject &start)> started;
    };

    VpnCommandWatcher(provider::ProviderServer &server, std::shared_ptr<Defaults> defaults, Options options);

    // The "start" request the tunnel last ran with.
    void setLastStart(const QJsonObject &start) { m_lastStart = start; }

    // Looks at the command once (the poll does this).
    void check();

private:
    void connect();
    void disconnect();
    // The last start, else one over the saved configuration of the packet tunnel.
    std::optional<QJsonObject> startRequest() const;

    provider::ProviderServer &m_server;
    std::shared_ptr<Defaults> m_defaults;
    Options m_options;
    ClockTicker m_poll;
    QJsonObject m_lastStart;
};

} // namespace kovra::devprovider
