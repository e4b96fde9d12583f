#include "connectivity/ReachabilitySnapshot.h"

#include <algorithm>

namespace kovra {
namespace {

template<typename Predicate>
qsizetype countOf(const QList<ServiceReachability> &results, Predicate predicate)
{
    return std::count_if(results.begin(), results.end(), predicate);
}

} // namespace

qsizetype ReachabilitySnapshot::gatingReachableCount() const
{
    return countOf(results, [](const ServiceReachability &r) { return r.isGating && r.reachable; });
}

qsizetype ReachabilitySnapshot::gatingCount() const
{
    return countOf(results, [](const ServiceReachability &r) { return r.isGating; });
}

qsizetype ReachabilitySnapshot::appReachableCount() const
{
    return countOf(results, [](const ServiceReachability &r) { return r.isApp && r.reachable; });
}

qsizetype ReachabilitySnapshot::appCount() const
{
    return countOf(results, [](const ServiceReachability &r) { return r.isApp; });
}

qsizetype ReachabilitySnapshot::reachableCount() const
{
    return countOf(results, [](const ServiceReachability &r) { return r.reachable; });
}

} // namespace kovra
