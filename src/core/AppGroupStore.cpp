#include "core/AppGroupStore.h"

#include <QUuid>

#include <exception>

namespace kovra {

const QStringList &AppGroupStore::catalogueKeys()
{
    using namespace AppGroupKey;
    static const QStringList keys = sessionKeys() + QStringList{hasSeenVPNPriming, lastSubscriptionCheck};
    return keys;
}

const QStringList &AppGroupStore::sessionKeys()
{
    using namespace AppGroupKey;
    static const QStringList keys{
        subscriptionURL, cachedSubscription, regionCatalogJSON, selectedRegionID, selectedRegionKeywords,
        entryCatalogJSON, connectionsCatalogJSON, connectionState, tunnelState, throughputSample,
        backgroundReliabilityArmed, reliabilityAppHeartbeat, backgroundReliabilityAutoManaged,
        backgroundReliabilityHistory, pendingVPNCommand, preferredEntry, activeBaseURL, bypassLAN, bypassRussia,
        blockedOnly, disconnectOnLock, wantsConnected, onDemandRecoveryEnabled, lastStopReason,
        autoDisconnectMinutes, subscriptionRemindersEnabled, hasRequestedSubscriptionReminderPermission,
        hasSentLowTrafficReminder,
    };
    return keys;
}

AppGroupStore::AppGroupStore(const PlatformPaths &paths)
{
    open(Defaults::suite(paths, kSuiteName), [&paths] { return Defaults::suite(paths, kLegacySuiteName); },
         [&paths] { return Defaults::standard(paths); });
}

AppGroupStore::AppGroupStore(std::shared_ptr<Defaults> suite, std::shared_ptr<Defaults> legacySuite,
                             std::shared_ptr<Defaults> standard)
{
    open(std::move(suite), [&legacySuite] { return legacySuite; },
         [&standard] { return standard ? standard : Defaults::inMemory(); });
}

void AppGroupStore::open(std::shared_ptr<Defaults> suite, const Opener &openLegacy, const Opener &openStandard)
{
    m_defaults = std::move(suite);
    if (!m_defaults) {
        m_defaults = openStandard();
        m_log.fault(QStringLiteral("App Group unavailable; falling back to UserDefaults.standard"));
        return;
    }
    migrateLegacy(openLegacy);
}

// Copies the catalogue keys of the older app group once. Any value under the guard
// (even false) means the copy has happened; values already in the new suite win.
// The legacy suite is only read: the tunnel provider of an older install may still use it.
void AppGroupStore::migrateLegacy(const Opener &openLegacy)
{
    if (m_defaults->contains(AppGroupKey::migratedLegacyGuard))
        return;
    const auto legacy = openLegacy();
    qint64 copied = 0;
    for (const QString &key : catalogueKeys()) {
        if (m_defaults->contains(key) || !legacy)
            continue;
        const QVariant value = legacy->object(key);
        if (value.isValid()) {
            m_defaults->setObject(key, value);
            ++copied;
        }
    }
    m_defaults->set(AppGroupKey::migratedLegacyGuard, true);
    m_log.info(QStringLiteral("legacy macOS App Group migration completed (copied=%1)").arg(copied));
}

bool AppGroupStore::boolValue(const QString &key, bool defaultValue) const
{
    return m_defaults->boolean(key).value_or(defaultValue);
}

void AppGroupStore::setAppHeartbeat(const std::optional<QDateTime> &date)
{
    if (date)
        m_defaults->set(AppGroupKey::reliabilityAppHeartbeat, *date);
    else
        m_defaults->remove(AppGroupKey::reliabilityAppHeartbeat);
}

QString AppGroupStore::deviceID()
{
    if (const auto stored = m_defaults->string(AppGroupKey::deviceID); stored && !stored->isEmpty())
        return *stored;
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m_defaults->set(AppGroupKey::deviceID, id);
    return id;
}

void AppGroupStore::removeSessionKeys()
{
    m_defaults->removeKeys(sessionKeys());
}

void AppGroupStore::setPendingVPNCommand(const std::optional<QString> &command)
{
    if (command)
        m_defaults->set(AppGroupKey::pendingVPNCommand, *command);
    else
        m_defaults->remove(AppGroupKey::pendingVPNCommand);
}

void AppGroupStore::storeEncoded(const QString &key, const std::function<QByteArray()> &encode)
{
    QByteArray bytes;
    try {
        bytes = encode();
    } catch (const std::exception &) {
        m_log.fault(QStringLiteral("encode failed for key %1 — retaining previous value").arg(key));
        return;
    }
    m_defaults->set(key, bytes);
}

std::shared_ptr<Defaults> openSharedGroupDefaults(const PlatformPaths &paths)
{
    auto suite = Defaults::suite(paths, AppGroupStore::kSuiteName);
    return suite ? suite : Defaults::standard(paths);
}

} // namespace kovra
