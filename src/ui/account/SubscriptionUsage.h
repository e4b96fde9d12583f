#pragma once

#include <QObject>
#include <QtGlobal>
#include <QtQml/qqmlregistration.h>

namespace kovra::ui {

// The colour of a usage bar (QML: `UsageTint.Warning`).
namespace UsageTint {
Q_NAMESPACE
QML_ELEMENT
enum Value { Accent, Warning, Danger };
Q_ENUM_NS(Value)
} // namespace UsageTint

// How much of its traffic a subscription has used, as the card's and the detail
// screen's bar show it.
struct SubscriptionUsage {
    // used / limit, within 0...1. A limit below 1 is no limit: 0 (an empty bar, never
    // a full red one beside an active subscription).
    double fraction = 0;
    // Danger from 1.0, Warning from 0.85, else Accent.
    UsageTint::Value tint = UsageTint::Accent;
    // fraction × 100 with the fraction part dropped (0...100).
    int percent = 0;

    static SubscriptionUsage of(qint64 usedBytes, qint64 dataLimitBytes);

    bool operator==(const SubscriptionUsage &) const = default;
};

} // namespace kovra::ui
