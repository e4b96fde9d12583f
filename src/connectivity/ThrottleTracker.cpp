#include "connectivity/ThrottleTracker.h"

namespace kovra {

bool ThrottleTracker::isStarved(const ThroughputSample &sample)
{
    return sample.txRate >= 4096 && sample.rxRate < 8192;
}

bool ThrottleTracker::update(const std::optional<ThroughputSample> &sample, const QDateTime &now)
{
    if (!sample || !isStarved(*sample)) {
        starvedSince.reset();
        return false;
    }
    if (!starvedSince)
        starvedSince = now;
    return double(starvedSince->msecsTo(now)) / 1000.0 >= sustain;
}

} // namespace kovra
