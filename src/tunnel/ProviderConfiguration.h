#pragma once

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace kovra {

class AppGroupStore;
class TunnelProviderManager;

// Identity of the packet-tunnel provider and of the configuration the app saves for it.
inline const QString kPacketTunnelBundleID = QStringLiteral("com.kovra.client-sign-box.PacketTunnel");
inline const QString kTunnelServerAddress = QStringLiteral("Kovra");
inline const QString kTunnelDescription = QStringLiteral("Kovra S");

// The user's routing settings handed to the tunnel provider.
struct ProviderSettings {
    QString preferredEntryID = QStringLiteral("auto");
    QStringList selectedRegionKeywords;
    bool bypassLAN = true;
    bool bypassRussia = true;
    bool blockedOnly = false;

    ProviderSettings() = default;
    // The settings stored in the app group now; absent or mistyped values give the defaults above.
    explicit ProviderSettings(const AppGroupStore &appGroup);

    friend bool operator==(const ProviderSettings &, const ProviderSettings &) = default;
};

// What a saved configuration holds, as far as deciding whether it is current goes.
struct ConfigState {
    std::optional<QString> providerBundleID;
    std::optional<QString> serverAddress;
    bool isEnabled = false;
    std::optional<QString> subscriptionURL;
    // Present only when all five settings keys are stored with the right kinds.
    std::optional<ProviderSettings> providerSettings;
    bool isOnDemandEnabled = false;
    int onDemandRuleCount = 0;

    ConfigState() = default;
    explicit ConfigState(const TunnelProviderManager &manager);

    friend bool operator==(const ConfigState &, const ConfigState &) = default;
};

// Whether the saved configuration (null: none) already holds what an install with this
// subscription URL would write. `wanted` is the settings read for a non-empty URL (none
// for an empty URL, in which case URL and settings are not compared). A configuration
// with connect-on-demand on or any on-demand rule is never current.
bool isConfigurationCurrent(const TunnelProviderManager *saved, const QString &subscriptionURL,
                            const std::optional<ProviderSettings> &wanted,
                            const QString &providerBundleID = kPacketTunnelBundleID,
                            const QString &serverAddress = kTunnelServerAddress);

// Writes the tunnel protocol, provider configuration, description and enabled flag into
// the manager (not saved). Provider configuration keys other than the six the app owns
// keep their stored values; with an empty URL (no `wanted`) none of the six is touched.
// Connect-on-demand and its rules are left as they are.
void writeConfiguration(TunnelProviderManager &manager, const QString &subscriptionURL,
                        const std::optional<ProviderSettings> &wanted,
                        const QString &providerBundleID = kPacketTunnelBundleID,
                        const QString &serverAddress = kTunnelServerAddress);

// The auto-disconnect time stored in the app group, in minutes: the stored integer,
// 0 when it is absent or not an integer. The start options and the settings screen
// both read it here.
qint64 storedAutoDisconnectMinutes(const AppGroupStore &appGroup);

// The options of a start request: "subscriptionURL" (as given, empty included),
// "autoDisconnectMinutes" (storedAutoDisconnectMinutes()) and the five settings.
QVariantMap startOptions(const QString &subscriptionURL, const AppGroupStore &appGroup);

} // namespace kovra
