// The settings screen's routing and automation controls: each change is written to
// the app group, logged, and handed on to the tunnel where it concerns it.
#include "SettingsModel.h"

#include "tunnel/TunnelController.h"

#include <limits>

namespace kovra::ui {

namespace {

bool isRouting(SettingsPreference::Value preference)
{
    return preference == SettingsPreference::BypassLAN || preference == SettingsPreference::BypassRussia
           || preference == SettingsPreference::BlockedOnly;
}

} // namespace

QVariantList SettingsModel::switchRowsVariant() const
{
    QVariantList rows;
    for (const SettingSwitchRow &row : switchRows())
        rows << row.toVariant();
    return rows;
}

QList<AutoDisconnectOption> SettingsModel::autoDisconnectChoices() const
{
    QList<AutoDisconnectOption> choices = autoDisconnectOptions();
    const qint64 minutes = m_preferences.autoDisconnectMinutes;
    if (std::none_of(choices.cbegin(), choices.cend(), [minutes](const auto &o) { return o.minutes == minutes; }))
        choices << AutoDisconnectOption{minutes, autoDisconnectOptionTitle(minutes)};
    return choices;
}

QVariantList SettingsModel::autoDisconnectChoicesVariant() const
{
    QVariantList items;
    for (const AutoDisconnectOption &option : autoDisconnectChoices())
        items << QVariantMap{{QStringLiteral("minutes"), option.minutes}, {QStringLiteral("title"), option.title}};
    return items;
}

int SettingsModel::autoDisconnectIndex() const
{
    const QList<AutoDisconnectOption> choices = autoDisconnectChoices();
    for (qsizetype i = 0; i < choices.size(); ++i) {
        if (choices.at(i).minutes == m_preferences.autoDisconnectMinutes)
            return int(i);
    }
    return -1;
}

void SettingsModel::setSwitch(int preference, bool on)
{
    const QList<SettingSwitchRow> rows = switchRows();
    const auto row = std::find_if(rows.cbegin(), rows.cend(),
                                  [preference](const SettingSwitchRow &r) { return r.preference == preference; });
    if (row == rows.cend() || !row->isEnabled || row->isOn == on)
        return;
    m_preferences.flag(row->preference) = on;
    applyChange(row->preference, on);
}

void SettingsModel::chooseAutoDisconnect(int index)
{
    const QList<AutoDisconnectOption> choices = autoDisconnectChoices();
    if (index < 0 || index >= choices.size() || choices.at(index).minutes == m_preferences.autoDisconnectMinutes)
        return;
    m_preferences.autoDisconnectMinutes = choices.at(index).minutes;
    applyChange(SettingsPreference::AutoDisconnectMinutes, m_preferences.autoDisconnectMinutes);
}

void SettingsModel::applyChange(SettingsPreference::Value preference, qint64 value)
{
    const bool isMinutes = preference == SettingsPreference::AutoDisconnectMinutes;
    if (isMinutes)
        m_store.defaults()->set(preferenceKey(preference), value);
    else
        m_store.defaults()->set(preferenceKey(preference), value != 0);
    const QString shown = isMinutes ? QString::number(value) : value ? QStringLiteral("true") : QStringLiteral("false");
    m_log.info(preferenceLogName(preference) + QStringLiteral(" → ") + shown);
    Q_EMIT preferencesChanged();

    // The tunnel carries on without the screen: neither follow-up is kept.
    TunnelController *tunnel = m_services.tunnelController;
    if (!tunnel)
        return;
    if (isRouting(preference)) {
        QCoro::Task<void> reconnect = tunnel->routingReconnect();
    } else if (isMinutes && value >= 0 && value <= std::numeric_limits<int>::max()) {
        tunnel->setAutoDisconnect(int(value));
    }
}

} // namespace kovra::ui
