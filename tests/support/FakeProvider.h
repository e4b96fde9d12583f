#pragma once

#include "platform/Clock.h"
#include "platform/TunnelManager.h"
#include "provider-kit/ProviderServer.h"

#include <QString>

#include <chrono>
#include <memory>

namespace kovra::test {

// The tunnel provider in-process, on a short unique socket in a private folder under
// /tmp (socket paths are limited to 108 bytes). Listens from construction; kill() and
// listen() take it down and bring it back.
class FakeProvider : public provider::ProviderServer {
    Q_OBJECT
public:
    explicit FakeProvider(QObject *parent = nullptr);
    ~FakeProvider() override;

    // Runs the event loop until `count` requests of the method have arrived.
    bool waitForRequests(const QString &method, int count = 1,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
};

// Preferences with their file below `paths`, reaching the provider at `socketPath`,
// with bounds sized for tests (a one-hour retry unless given).
TunnelPreferencesOptions tunnelOptions(const PlatformPaths &paths, const QString &socketPath,
                                       std::shared_ptr<Clock> clock = nullptr,
                                       std::chrono::milliseconds replyBound = std::chrono::seconds(10),
                                       std::chrono::milliseconds retry = std::chrono::hours(1));

// Saves an enabled configuration for the provider `bundleID` and returns it.
TunnelProviderManager *saveConfiguration(TunnelPreferences &preferences, const QString &bundleID,
                                         QVariantMap providerConfiguration = {});

} // namespace kovra::test
