#pragma once

#include "platform/Defaults.h"
#include "platform/Json.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace kovra {

// Keys of the app group's shared defaults (read and written by the app and the
// tunnel provider). The first 28 are session keys, removed when the session ends.
namespace AppGroupKey {
inline const QString subscriptionURL = QStringLiteral("subscriptionURL");
inline const QString cachedSubscription = QStringLiteral("kovra.cached_subscription");
inline const QString regionCatalogJSON = QStringLiteral("regionCatalogJSON");
inline const QString selectedRegionID = QStringLiteral("selectedRegionID");
inline const QString selectedRegionKeywords = QStringLiteral("selectedRegionKeywords");
inline const QString entryCatalogJSON = QStringLiteral("entryCatalogJSON");
inline const QString connectionsCatalogJSON = QStringLiteral("connectionsCatalogJSON");
inline const QString connectionState = QStringLiteral("kovra.connection_state");
inline const QString tunnelState = QStringLiteral("kovra.tunnel_state");
inline const QString throughputSample = QStringLiteral("kovra.throughput_sample");
inline const QString backgroundReliabilityArmed = QStringLiteral("kovra.background_reliability_armed");
inline const QString reliabilityAppHeartbeat = QStringLiteral("kovra.reliability_app_heartbeat");
inline const QString backgroundReliabilityAutoManaged = QStringLiteral("kovra.background_reliability_auto_managed");
inline const QString backgroundReliabilityHistory = QStringLiteral("kovra.background_reliability_history");
inline const QString pendingVPNCommand = QStringLiteral("kovra.pending_vpn_command");
inline const QString preferredEntry = QStringLiteral("kovra.preferred_entry");
inline const QString activeBaseURL = QStringLiteral("kovra.active_base_url");
inline const QString bypassLAN = QStringLiteral("kovra.bypass_lan");
inline const QString bypassRussia = QStringLiteral("kovra.bypass_russia");
inline const QString blockedOnly = QStringLiteral("kovra.blocked_only");
inline const QString disconnectOnLock = QStringLiteral("kovra.disconnect_on_lock");
inline const QString wantsConnected = QStringLiteral("kovra.wants_connected");
inline const QString onDemandRecoveryEnabled = QStringLiteral("kovra.on_demand_recovery_enabled");
inline const QString lastStopReason = QStringLiteral("kovra.last_stop_reason");
inline const QString autoDisconnectMinutes = QStringLiteral("kovra.auto_disconnect_minutes");
inline const QString subscriptionRemindersEnabled = QStringLiteral("kovra.subscription_reminders_enabled");
inline const QString hasRequestedSubscriptionReminderPermission =
    QStringLiteral("kovra.has_requested_subscription_reminder_permission");
inline const QString hasSentLowTrafficReminder = QStringLiteral("kovra.has_sent_low_traffic_reminder");
// Kept across sign-out.
inline const QString hasSeenVPNPriming = QStringLiteral("kovra.has_seen_vpn_priming");
inline const QString lastSubscriptionCheck = QStringLiteral("lastSubscriptionCheck");
// Outside the catalogue: never removed, never migrated.
inline const QString deviceID = QStringLiteral("kovra.device_id");
inline const QString migratedLegacyGuard = QStringLiteral("kovra.migrated_legacy_mac_app_group_v1");
} // namespace AppGroupKey

// The app's handle on the shared defaults of the app group. Instances are cheap and
// hold no state beyond the suite; each opening copies the keys of the older app
// group once (guarded by AppGroupKey::migratedLegacyGuard).
class AppGroupStore {
public:
    static inline const QString kSuiteName = QStringLiteral("K4WQ9ZD2RM.group.com.kovra.client-sign-box");
    static inline const QString kLegacySuiteName = QStringLiteral("group.com.kovra.client-sign-box");

    // Opens kSuiteName below `paths` (and the legacy suite there when the migration
    // needs it), or the standard defaults below `paths`, with a fault line, when the
    // suite cannot be opened.
    explicit AppGroupStore(const PlatformPaths &paths);
    // Over given suites: a null suite falls back to `standard` with the same fault
    // line (to a fresh in-memory store when `standard` is null too); a null legacy
    // suite counts as unavailable.
    AppGroupStore(std::shared_ptr<Defaults> suite, std::shared_ptr<Defaults> legacySuite,
                  std::shared_ptr<Defaults> standard = nullptr);

    // The 30 keys shared with the tunnel provider, in order; the legacy migration copies these.
    static const QStringList &catalogueKeys();
    // The first 28 of them, removed when the session ends.
    static const QStringList &sessionKeys();

    const std::shared_ptr<Defaults> &defaults() const { return m_defaults; }

    // The stored value when it is a Boolean, else the given default.
    bool boolValue(const QString &key, bool defaultValue) const;
    // Stores the heartbeat, or removes it when absent.
    void setAppHeartbeat(const std::optional<QDateTime> &date);
    // This installation's identifier: an upper-case UUID, created on first use and
    // again when the stored one is empty.
    QString deviceID();
    // Removes the session keys in one write, so the tunnel provider never sees half a
    // sign-out; the device identifier, the migration guard and the last two catalogue
    // keys stay.
    void removeSessionKeys();
    // Stores "connect"/"disconnect", or removes the command when absent.
    void setPendingVPNCommand(const std::optional<QString> &command);

    // Stores the value as JSON, or removes the key when absent. When the value
    // cannot be encoded the previous value stays and a fault line is logged.
    template<JsonEncodableRecord T>
    void setCodable(const std::optional<T> &value, const QString &key)
    {
        if (!value)
            m_defaults->remove(key);
        else
            storeEncoded(key, [&value] { return JsonEncoder().encode(*value); });
    }

private:
    using Opener = std::function<std::shared_ptr<Defaults>()>;
    void open(std::shared_ptr<Defaults> suite, const Opener &openLegacy, const Opener &openStandard);
    void migrateLegacy(const Opener &openLegacy);
    void storeEncoded(const QString &key, const std::function<QByteArray()> &encode);

    Logger m_log{QStringLiteral("AppGroupStore")};
    std::shared_ptr<Defaults> m_defaults;
};

// A handle on the app group's suite below `paths`, or on the standard defaults there
// when the suite cannot be opened; no migration, no log line. The start-up opens it
// once and hands it to whatever keeps process-wide state in it (the active base URL).
std::shared_ptr<Defaults> openSharedGroupDefaults(const PlatformPaths &paths);

} // namespace kovra
