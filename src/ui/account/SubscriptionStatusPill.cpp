#include "SubscriptionStatusPill.h"

#include "SubscriptionFormat.h"

#include "platform/L10n.h"

namespace kovra::ui {

namespace {

SubscriptionStatusPill::Style checked(int style)
{
    using P = SubscriptionStatusPill;
    return style >= P::Active && style <= P::Inactive ? P::Style(style) : P::Inactive;
}

} // namespace

SubscriptionStatusPill::SubscriptionStatusPill(QObject *parent) : QObject(parent) {}

SubscriptionStatusPill::Style SubscriptionStatusPill::styleOf(const SubscriptionOut &subscription, const Clock &clock)
{
    if (SubscriptionFormat::hasExpired(subscription.expireUnix, clock.now()))
        return Expired;
    if (SubscriptionFormat::isTrafficUsedUp(subscription))
        return NoTraffic;
    if (subscription.status == QLatin1String("active"))
        return Active;
    return Inactive;
}

QString SubscriptionStatusPill::titleOf(Style style)
{
    switch (style) {
    case Active: return L10n::text("sub.status.active", u"активна");
    case Expired: return L10n::text("sub.status.expired", u"истекла");
    case NoTraffic: return L10n::text("sub.status.no_traffic", u"нет трафика");
    case Inactive: break;
    }
    return L10n::text("sub.status.inactive", u"неактивна");
}

StatusDotState::Value SubscriptionStatusPill::dotStateOf(Style style)
{
    switch (style) {
    case Active: return StatusDotState::Connected;
    case Expired: return StatusDotState::Danger;
    case NoTraffic: return StatusDotState::Warning;
    case Inactive: break;
    }
    return StatusDotState::Inactive;
}

QString SubscriptionStatusPill::title(int style) const { return titleOf(checked(style)); }
int SubscriptionStatusPill::dotState(int style) const { return dotStateOf(checked(style)); }
bool SubscriptionStatusPill::glows(int style) const { return glowsOf(checked(style)); }

} // namespace kovra::ui
