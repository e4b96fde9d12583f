#include "account/SubscriptionService.h"

#include "core/APIClient.h"

namespace kovra {

SubscriptionService::SubscriptionService(APIClient *api) : m_api(api) {}

QCoro::Task<SubscriptionOut> SubscriptionService::fetchSubscription()
{
    const QPointer<APIClient> api = m_api;
    if (!api)
        throw CancellationError();
    SubscriptionOut subscription = co_await api->send<SubscriptionOut>(Endpoint::subscription());
    co_return subscription;
}

} // namespace kovra
