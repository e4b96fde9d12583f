#include "tunnel/ProviderConfiguration.h"

#include "core/AppGroupStore.h"
#include "platform/TunnelManager.h"

namespace kovra {
namespace {

namespace key {
const QString subscriptionURL = QStringLiteral("subscriptionURL");
const QString preferredEntryID = QStringLiteral("preferredEntryID");
const QString selectedRegionKeywords = QStringLiteral("selectedRegionKeywords");
const QString bypassLAN = QStringLiteral("bypassLAN");
const QString bypassRussia = QStringLiteral("bypassRussia");
const QString blockedOnly = QStringLiteral("blockedOnly");
const QString autoDisconnectMinutes = QStringLiteral("autoDisconnectMinutes");
} // namespace key

std::optional<QString> stringValue(const QVariant &v)
{
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    return std::nullopt;
}

std::optional<QStringList> stringListValue(const QVariant &v)
{
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList();
    if (v.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList list;
    for (const auto &item : v.toList()) {
        if (item.typeId() != QMetaType::QString)
            return std::nullopt;
        list.append(item.toString());
    }
    return list;
}

// A stored flag reads back as a number; only 0 and 1 are Booleans.
std::optional<bool> flagValue(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        return v.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double: {
        const double d = v.toDouble();
        if (d == 0 || d == 1)
            return d == 1;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<ProviderSettings> settingsFrom(const QVariantMap &config)
{
    const auto entry = stringValue(config.value(key::preferredEntryID));
    const auto keywords = stringListValue(config.value(key::selectedRegionKeywords));
    const auto lan = flagValue(config.value(key::bypassLAN));
    const auto russia = flagValue(config.value(key::bypassRussia));
    const auto blocked = flagValue(config.value(key::blockedOnly));
    if (!entry || !keywords || !lan || !russia || !blocked)
        return std::nullopt;
    ProviderSettings s;
    s.preferredEntryID = *entry;
    s.selectedRegionKeywords = *keywords;
    s.bypassLAN = *lan;
    s.bypassRussia = *russia;
    s.blockedOnly = *blocked;
    return s;
}

// The five settings as the provider configuration and the start options carry them.
void insertSettings(QVariantMap &map, const ProviderSettings &settings)
{
    map.insert(key::preferredEntryID, settings.preferredEntryID);
    map.insert(key::selectedRegionKeywords, settings.selectedRegionKeywords);
    map.insert(key::bypassLAN, settings.bypassLAN);
    map.insert(key::bypassRussia, settings.bypassRussia);
    map.insert(key::blockedOnly, settings.blockedOnly);
}

} // namespace

ProviderSettings::ProviderSettings(const AppGroupStore &appGroup)
{
    const auto &defaults = *appGroup.defaults();
    preferredEntryID = defaults.string(AppGroupKey::preferredEntry).value_or(QStringLiteral("auto"));
    selectedRegionKeywords = defaults.stringList(AppGroupKey::selectedRegionKeywords).value_or(QStringList());
    bypassLAN = appGroup.boolValue(AppGroupKey::bypassLAN, true);
    bypassRussia = appGroup.boolValue(AppGroupKey::bypassRussia, true);
    blockedOnly = appGroup.boolValue(AppGroupKey::blockedOnly, false);
}

ConfigState::ConfigState(const TunnelProviderManager &manager)
{
    isEnabled = manager.isEnabled();
    isOnDemandEnabled = manager.isOnDemandEnabled();
    onDemandRuleCount = int(manager.onDemandRules().size());
    const auto protocol = manager.protocolConfiguration();
    if (!protocol)
        return;
    providerBundleID = protocol->providerBundleIdentifier;
    serverAddress = protocol->serverAddress;
    const QVariantMap &config = protocol->providerConfiguration;
    if (config.isEmpty())
        return;
    subscriptionURL = stringValue(config.value(key::subscriptionURL));
    providerSettings = settingsFrom(config);
}

bool isConfigurationCurrent(const TunnelProviderManager *saved, const QString &subscriptionURL,
                            const std::optional<ProviderSettings> &wanted, const QString &providerBundleID,
                            const QString &serverAddress)
{
    if (!saved)
        return false;
    const ConfigState state(*saved);
    if (state.providerBundleID != providerBundleID || state.serverAddress != serverAddress || !state.isEnabled)
        return false;
    if (!subscriptionURL.isEmpty()
        && (state.subscriptionURL != subscriptionURL || state.providerSettings != wanted))
        return false;
    // Connect-on-demand is never turned off by a rewrite, so such a configuration never counts as current.
    return !state.isOnDemandEnabled && state.onDemandRuleCount == 0;
}

void writeConfiguration(TunnelProviderManager &manager, const QString &subscriptionURL,
                        const std::optional<ProviderSettings> &wanted, const QString &providerBundleID,
                        const QString &serverAddress)
{
    TunnelProviderProtocol protocol = manager.protocolConfiguration().value_or(TunnelProviderProtocol{});
    protocol.providerBundleIdentifier = providerBundleID;
    protocol.serverAddress = serverAddress;
    QVariantMap &config = protocol.providerConfiguration;
    if (!subscriptionURL.isEmpty())
        config.insert(key::subscriptionURL, subscriptionURL);
    if (wanted)
        insertSettings(config, *wanted);
    manager.setProtocolConfiguration(std::move(protocol));
    manager.setLocalizedDescription(kTunnelDescription);
    manager.setEnabled(true);
}

qint64 storedAutoDisconnectMinutes(const AppGroupStore &appGroup)
{
    return appGroup.defaults()->integer(AppGroupKey::autoDisconnectMinutes).value_or(0);
}

QVariantMap startOptions(const QString &subscriptionURL, const AppGroupStore &appGroup)
{
    QVariantMap options{
        {key::subscriptionURL, subscriptionURL},
        {key::autoDisconnectMinutes, QVariant::fromValue(storedAutoDisconnectMinutes(appGroup))},
    };
    insertSettings(options, ProviderSettings(appGroup));
    return options;
}

} // namespace kovra
