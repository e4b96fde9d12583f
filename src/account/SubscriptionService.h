#pragma once

#include "account/SubscriptionOut.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

namespace kovra {

class APIClient;

// Where the subscription store gets the subscription.
class SubscriptionProviding {
public:
    virtual ~SubscriptionProviding() = default;
    // Throws on any failure (APIError for the service's).
    virtual QCoro::Task<SubscriptionOut> fetchSubscription() = 0;
};

// GET /me/subscription with the session token, raced across the base URLs. Throws
// APIError, or CancellationError once the client is gone.
class SubscriptionService final : public SubscriptionProviding {
public:
    explicit SubscriptionService(APIClient *api);

    QCoro::Task<SubscriptionOut> fetchSubscription() override;

private:
    QPointer<APIClient> m_api;
};

} // namespace kovra
