#include "SubscriptionCallToAction.h"

#include "SubscriptionFormat.h"

#include "platform/L10n.h"

namespace kovra::ui {

SubscriptionCallToAction SubscriptionCallToAction::of(const SubscriptionOut &subscription, bool hasTelegram,
                                                      const Clock &clock)
{
    if (!hasTelegram)
        return {L10n::text("sub.card.link_telegram", u"Привязать Telegram для оплаты"),
                CallToActionDestination::Settings};
    return {SubscriptionFormat::ctaTitle(subscription, clock), CallToActionDestination::Tariffs};
}

QString SubscriptionCallToAction::pageFile() const
{
    return destination == CallToActionDestination::Settings ? QStringLiteral("SettingsView.qml")
                                                            : QStringLiteral("BuyView.qml");
}

} // namespace kovra::ui
