#include "SettingsPreferences.h"

#include "platform/L10n.h"
#include "tunnel/ProviderConfiguration.h"

namespace kovra::ui {

namespace {

// Each preference's key, the name its change is logged under, and its field (the
// minutes have their own). The defaults are the fields' initial values.
struct PreferenceEntry {
    SettingsPreference::Value preference;
    const QString &key;
    const char *logName;
    bool SettingsPreferences::*flag;
};

const PreferenceEntry kPreferences[] = {
    {SettingsPreference::BypassLAN, AppGroupKey::bypassLAN, "bypassLAN", &SettingsPreferences::bypassLAN},
    {SettingsPreference::BypassRussia, AppGroupKey::bypassRussia, "bypassRussia", &SettingsPreferences::bypassRussia},
    {SettingsPreference::BlockedOnly, AppGroupKey::blockedOnly, "blockedOnly", &SettingsPreferences::blockedOnly},
    {SettingsPreference::DisconnectOnLock, AppGroupKey::disconnectOnLock, "disconnectOnLock",
     &SettingsPreferences::disconnectOnLock},
    {SettingsPreference::AutoDisconnectMinutes, AppGroupKey::autoDisconnectMinutes, "autoDisconnectMinutes", nullptr},
    {SettingsPreference::OnDemandRecovery, AppGroupKey::onDemandRecoveryEnabled, "onDemandRecoveryEnabled",
     &SettingsPreferences::onDemandRecoveryEnabled},
    {SettingsPreference::SubscriptionReminders, AppGroupKey::subscriptionRemindersEnabled,
     "subscriptionReminderNotificationsEnabled", &SettingsPreferences::subscriptionRemindersEnabled},
};

const PreferenceEntry &entry(SettingsPreference::Value preference)
{
    for (const PreferenceEntry &e : kPreferences) {
        if (e.preference == preference)
            return e;
    }
    return kPreferences[std::size(kPreferences) - 1];
}

} // namespace

bool SettingsPreferences::flag(SettingsPreference::Value preference) const
{
    const auto field = entry(preference).flag;
    return field ? this->*field : false;
}

bool &SettingsPreferences::flag(SettingsPreference::Value preference)
{
    // The minutes have no flag: callers ask only for a switch's.
    const auto field = entry(preference).flag;
    return this->*(field ? field : &SettingsPreferences::subscriptionRemindersEnabled);
}

SettingsPreferences SettingsPreferences::read(const AppGroupStore &store)
{
    SettingsPreferences p;
    for (const PreferenceEntry &e : kPreferences) {
        if (e.flag)
            p.*e.flag = store.boolValue(e.key, p.*e.flag);
    }
    p.autoDisconnectMinutes = storedAutoDisconnectMinutes(store);
    return p;
}

QString preferenceKey(SettingsPreference::Value preference)
{
    return entry(preference).key;
}

QString preferenceLogName(SettingsPreference::Value preference)
{
    return QString::fromLatin1(entry(preference).logName);
}

QList<SettingSwitchRow> SettingSwitchRow::of(const SettingsPreferences &p)
{
    const auto row = [&p](SettingsPreference::Value preference, QString title, QString subtitle, bool enabled = true,
                          double opacity = 1.0) {
        return SettingSwitchRow{preference, std::move(title), std::move(subtitle), p.flag(preference), enabled, opacity};
    };
    return {
        row(SettingsPreference::BypassLAN, L10n::text("settings.routing.lan.title", u"Доступ к локальной сети"),
            L10n::text("settings.routing.lan.subtitle",
                       u"Домашние устройства (принтер, телевизор, NAS) остаются доступны напрямую, в обход VPN.")),
        row(SettingsPreference::BypassRussia, L10n::text("settings.routing.ru.title", u"Российские сайты — напрямую"),
            p.blockedOnly ? L10n::text("settings.routing.ru.blockedOnly.subtitle",
                                       u"Не используется: в режиме «Только заблокированные ресурсы» остальной трафик "
                                       u"уже идёт напрямую.")
                          : L10n::text("settings.routing.ru.subtitle",
                                       u"Российские сайты и приложения — напрямую. Госуслуги, банки и доставка "
                                       u"работают как обычно."),
            !p.blockedOnly, p.blockedOnly ? 0.55 : 1.0),
        row(SettingsPreference::BlockedOnly,
            L10n::text("settings.routing.blockedOnly.title", u"Только заблокированные ресурсы"),
            L10n::text("settings.routing.blockedOnly.subtitle",
                       u"Через VPN пойдут только заблокированные в РФ сайты и сервисы. Остальной трафик — напрямую, "
                       u"на полной скорости.")),
        row(SettingsPreference::DisconnectOnLock, L10n::text("settings.lock.title", u"Отключать при блокировке"),
            L10n::text("settings.lock.subtitle",
                       u"Выключать VPN, когда устройство блокируется или уходит в спящий режим.")),
        row(SettingsPreference::OnDemandRecovery,
            L10n::text("settings.onDemand.title", u"Восстанавливать VPN автоматически"),
            p.autoDisconnectMinutes == 0
                ? L10n::text("settings.onDemand.subtitle", u"Приложение само поднимет упавшее соединение, пока VPN включён.")
                : L10n::text("settings.onDemand.timerConflict",
                             u"Недоступно, пока включено автоотключение: оно должно оставить VPN выключенным."),
            p.autoDisconnectMinutes == 0),
        row(SettingsPreference::SubscriptionReminders,
            L10n::text("settings.reminders.title", u"Напоминать об окончании подписки"),
            L10n::text("settings.reminders.subtitle", u"Уведомим за 3 дня до окончания и когда закончится трафик.")),
    };
}

QVariantMap SettingSwitchRow::toVariant() const
{
    return {{QStringLiteral("preference"), int(preference)}, {QStringLiteral("title"), title},
            {QStringLiteral("subtitle"), subtitle},          {QStringLiteral("isOn"), isOn},
            {QStringLiteral("isEnabled"), isEnabled},        {QStringLiteral("opacity"), opacity}};
}

QList<AutoDisconnectOption> autoDisconnectOptions()
{
    return {
        {0, L10n::text("settings.autoDisconnect.off", u"Никогда")},
        {15, L10n::text("settings.autoDisconnect.m15", u"15 минут")},
        {30, L10n::text("settings.autoDisconnect.m30", u"30 минут")},
        {45, L10n::text("settings.autoDisconnect.m45", u"45 минут")},
        {60, L10n::text("settings.autoDisconnect.h1", u"1 час")},
        {120, L10n::text("settings.autoDisconnect.h2", u"2 часа")},
        {180, L10n::text("settings.autoDisconnect.h3", u"3 часа")},
        {360, L10n::text("settings.autoDisconnect.h6", u"6 часов")},
        {720, L10n::text("settings.autoDisconnect.h12", u"12 часов")},
    };
}

QString autoDisconnectOptionTitle(qint64 minutes)
{
    for (const AutoDisconnectOption &option : autoDisconnectOptions()) {
        if (option.minutes == minutes)
            return option.title;
    }
    return L10n::format(L10n::text("settings.autoDisconnect.custom", u"%d мин."), {minutes});
}

} // namespace kovra::ui
