#include "SubscriptionUsage.h"

#include <algorithm>

namespace kovra::ui {

SubscriptionUsage SubscriptionUsage::of(qint64 usedBytes, qint64 dataLimitBytes)
{
    SubscriptionUsage usage;
    if (dataLimitBytes < 1)
        return usage;
    usage.fraction = std::clamp(double(usedBytes) / double(dataLimitBytes), 0.0, 1.0);
    if (usage.fraction >= 1.0)
        usage.tint = UsageTint::Danger;
    else if (usage.fraction >= 0.85)
        usage.tint = UsageTint::Warning;
    usage.percent = int(usage.fraction * 100.0);
    return usage;
}

} // namespace kovra::ui
