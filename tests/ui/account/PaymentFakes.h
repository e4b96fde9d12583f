#pragma once

#include "account/PaymentWaitingState.h"
#include "account/SubscriptionService.h"
#include "account/SubscriptionStore.h"
#include "core/AppGroupStore.h"

#include "support/ManualClock.h"

#include <stdexcept>

namespace kovra::test {

// Hands the subscription store whatever the test last set; fails while none is set.
class ScriptedSubscriptions final : public SubscriptionProviding {
public:
    std::optional<SubscriptionOut> next;

    QCoro::Task<SubscriptionOut> fetchSubscription() override
    {
        if (!next)
            throw std::runtime_error("no subscription scripted");
        co_return SubscriptionOut(*next);
    }
};

// A subscription store over scripted replies and a payment wait polling it every
// 3 s of a manual clock, at most `maxPolls` times.
struct PaymentWaitRig {
    std::shared_ptr<ManualClock> clock;
    std::shared_ptr<ScriptedSubscriptions> replies = std::make_shared<ScriptedSubscriptions>();
    SubscriptionStore store;
    PaymentWaitingState state;

    explicit PaymentWaitRig(int maxPolls, QTimeZone zone = QTimeZone("Europe/Moscow"))
        : clock(std::make_shared<ManualClock>(QDateTime(QDate(2025, 3, 1), QTime(12, 0), Qt::UTC), zone)),
          store(replies, AppGroupStore(Defaults::inMemory(), nullptr), nullptr, {clock}),
          state(&store, std::chrono::milliseconds(3000), maxPolls, clock)
    {
    }

    // An active subscription ending at `expireUnix`.
    static SubscriptionOut active(std::optional<qint64> expireUnix)
    {
        return {QStringLiteral("https://sub.example/u"), QStringLiteral("active"), 0, 0, expireUnix, std::nullopt};
    }
};

} // namespace kovra::test
