#include "connectivity/ThroughputSample.h"

#include <cmath>

namespace kovra {

SharedThroughputSample SharedThroughputSample::decode(const JsonDecodingContainer &c)
{
    return {c.decode<double>("rxBps"), c.decode<double>("txBps"), c.decode<qint64>("connectionsOut"),
            c.decode<QDateTime>("updatedAt")};
}

void SharedThroughputSample::encode(JsonEncodingContainer &c) const
{
    c.encode("rxBps", rxBps);
    c.encode("txBps", txBps);
    c.encode("connectionsOut", connectionsOut);
    c.encode("updatedAt", updatedAt);
}

bool SharedThroughputSample::hasUsableRates() const
{
    return ThroughputSample::wholeRate(rxBps) && ThroughputSample::wholeRate(txBps);
}

std::optional<ThroughputSample> ThroughputSample::fromShared(const std::optional<SharedThroughputSample> &shared,
                                                             const QDateTime &now, std::chrono::milliseconds maxAge)
{
    if (!shared || !shared->hasUsableRates() || shared->updatedAt.msecsTo(now) > maxAge.count())
        return std::nullopt;
    return ThroughputSample{shared->rxBps, shared->txBps, shared->connectionsOut, shared->updatedAt};
}

std::optional<qint64> ThroughputSample::wholeRate(double rate)
{
    // Every double below 2^63 in magnitude rounds to a value that still fits.
    if (!(rate >= -0x1p63 && rate < 0x1p63))
        return std::nullopt;
    return std::llround(rate);
}

} // namespace kovra
