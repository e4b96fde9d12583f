#include "ui/main/HomeSubscriptionCard.h"

#include "account/MeStore.h"
#include "account/SubscriptionStore.h"

namespace kovra::ui {

namespace {

QCoro::Task<void> refreshSubscription(QPointer<SubscriptionStore> store)
{
    // The store records its own failure; it never throws.
    if (store)
        co_await store->refresh();
}

} // namespace

HomeSubscriptionCard::HomeSubscriptionCard(SubscriptionStore *subscriptions, MeStore *me, QObject *parent)
    : QObject(parent), m_subscriptions(subscriptions), m_me(me)
{
    if (subscriptions) {
        connect(subscriptions, &SubscriptionStore::latestChanged, this, &HomeSubscriptionCard::subscriptionChanged);
        connect(subscriptions, &SubscriptionStore::isLoadingChanged, this, &HomeSubscriptionCard::isLoadingChanged);
        connect(subscriptions, &SubscriptionStore::errorChanged, this, &HomeSubscriptionCard::errorChanged);
    }
    if (me)
        connect(me, &MeStore::latestChanged, this, &HomeSubscriptionCard::hasTelegramChanged);
}

std::optional<SubscriptionOut> HomeSubscriptionCard::subscription() const
{
    return m_subscriptions ? m_subscriptions->latest() : std::nullopt;
}

QVariant HomeSubscriptionCard::subscriptionValue() const
{
    const std::optional<SubscriptionOut> latest = subscription();
    return latest ? QVariant::fromValue(*latest) : QVariant();
}

bool HomeSubscriptionCard::isLoading() const
{
    return m_subscriptions && m_subscriptions->isLoading();
}

std::exception_ptr HomeSubscriptionCard::error() const
{
    return m_subscriptions ? m_subscriptions->error() : nullptr;
}

QString HomeSubscriptionCard::errorText() const
{
    return m_subscriptions ? m_subscriptions->errorText() : QString();
}

bool HomeSubscriptionCard::hasTelegram() const
{
    if (!m_me || !m_me->latest())
        return true;
    return m_me->latest()->hasTelegram;
}

void HomeSubscriptionCard::retry()
{
    refreshSubscription(m_subscriptions);
}

} // namespace kovra::ui
