#include "connectivity/CooldownMap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kovra {
namespace {

// About 31 700 years: far beyond any pause, well inside QDateTime and qint64 milliseconds.
constexpr double kLongestSeconds = 1e12;

} // namespace

double CooldownMap::recordFailure(const QString &id, const QDateTime &now)
{
    const auto existing = entries.constFind(id);
    const qint64 n = existing == entries.cend() ? 0 : std::max<qint64>(existing->failCount, 0);
    double delay = std::min(cap, base * std::pow(factor, double(n)));
    // A misconfigured map (NaN or enormous values) must not break the date arithmetic.
    if (std::isnan(delay))
        delay = 0;
    delay = std::clamp(delay, -kLongestSeconds, kLongestSeconds);
    const qint64 count = n == std::numeric_limits<qint64>::max() ? n : n + 1;
    entries.insert(id, Entry{now.addMSecs(std::llround(delay * 1000.0)), count});
    return delay;
}

bool CooldownMap::isOffCooldown(const Entries &entries, const QString &id, const QDateTime &now)
{
    const auto it = entries.constFind(id);
    return it == entries.cend() || !(now < it->untilTs);
}

void CooldownMap::setEntry(const QString &id, const std::optional<Entry> &entry)
{
    if (entry)
        entries.insert(id, *entry);
    else
        entries.remove(id);
}

} // namespace kovra
