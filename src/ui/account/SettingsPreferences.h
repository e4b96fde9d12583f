#pragma once

#include "core/AppGroupStore.h"

#include <QList>
#include <QString>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

namespace kovra::ui {

// The preferences of the settings screen's routing and automation sections (QML:
// `SettingsPreference.BlockedOnly`). Each lives under its own app-group key, where
// the tunnel provider reads the routing ones and the auto-disconnect time.
namespace SettingsPreference {
Q_NAMESPACE
QML_ELEMENT
enum Value {
    BypassLAN,
    BypassRussia,
    BlockedOnly,
    DisconnectOnLock,
    AutoDisconnectMinutes,
    OnDemandRecovery,
    SubscriptionReminders,
};
Q_ENUM_NS(Value)
} // namespace SettingsPreference

// The seven values as stored: a Boolean stored as anything but a Boolean reads as its
// default, the minutes as the tunnel's start options read them.
struct SettingsPreferences {
    bool bypassLAN = true;
    bool bypassRussia = true;
    bool blockedOnly = false;
    bool disconnectOnLock = false;
    qint64 autoDisconnectMinutes = 0;
    bool onDemandRecoveryEnabled = false;
    bool subscriptionRemindersEnabled = true;

    static SettingsPreferences read(const AppGroupStore &store);
    // The Boolean of a switch's preference (any but the minutes).
    bool flag(SettingsPreference::Value preference) const;
    bool &flag(SettingsPreference::Value preference);

    bool operator==(const SettingsPreferences &) const = default;
};

// The app-group key of a preference, and the name its change is logged under.
QString preferenceKey(SettingsPreference::Value preference);
QString preferenceLogName(SettingsPreference::Value preference);

// One switch of the two sections as the screen shows it: the two-line label, the
// value, whether it can be changed now and the opacity it is drawn at.
struct SettingSwitchRow {
    SettingsPreference::Value preference = SettingsPreference::BypassLAN;
    QString title;
    QString subtitle;
    bool isOn = false;
    bool isEnabled = true;
    double opacity = 1.0;

    // The switches in screen order (routing, then automation), the Russian-sites one
    // disabled and dimmed while only blocked resources go through the tunnel, the
    // on-demand one disabled while an auto-disconnect time is set; their values stay.
    static QList<SettingSwitchRow> of(const SettingsPreferences &preferences);
    QVariantMap toVariant() const;
    bool operator==(const SettingSwitchRow &) const = default;
};

// One choice of the auto-disconnect picker.
struct AutoDisconnectOption {
    qint64 minutes = 0;
    QString title;

    bool operator==(const AutoDisconnectOption &) const = default;
};

// The nine times, "Никогда" first.
QList<AutoDisconnectOption> autoDisconnectOptions();
// The title of one of the nine, or "<minutes> мин." for any other value.
QString autoDisconnectOptionTitle(qint64 minutes);

} // namespace kovra::ui
