#pragma once

#include "account/SubscriptionOut.h"
#include "platform/Clock.h"

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace kovra::ui {

// Where the call-to-action button leads (QML: `CallToActionDestination.Settings`).
namespace CallToActionDestination {
Q_NAMESPACE
QML_ELEMENT
enum Value { Tariffs, Settings };
Q_ENUM_NS(Value)
} // namespace CallToActionDestination

// The button under the home card's usage line while the subscription is not active
// (SubscriptionCTAButton.qml). With Telegram linked it leads to a new tariff screen,
// titled by SubscriptionFormat::ctaTitle; without, to a new settings screen (where
// Telegram is linked), titled "Привязать Telegram для оплаты".
struct SubscriptionCallToAction {
    QString title;
    CallToActionDestination::Value destination = CallToActionDestination::Tariffs;

    static SubscriptionCallToAction of(const SubscriptionOut &subscription, bool hasTelegram,
                                       const Clock &clock = *Clock::system());
    // The QML file of the destination page.
    QString pageFile() const;

    bool operator==(const SubscriptionCallToAction &) const = default;
};

} // namespace kovra::ui
