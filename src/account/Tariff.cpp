#include "account/Tariff.h"

#include <cmath>
#include <limits>

namespace kovra {

Tariff Tariff::decode(const JsonDecodingContainer &c)
{
    return {c.decode<qint64>("months"), c.decode<qint64>("rub"), c.decode<qint64>("stars"), c.decode<double>("usdt"),
            c.decode<qint64>("monthlyQuotaGb")};
}

void Tariff::encode(JsonEncodingContainer &c) const
{
    c.encode("months", months);
    c.encode("rub", rub);
    c.encode("stars", stars);
    c.encode("usdt", usdt);
    c.encode("monthlyQuotaGb", monthlyQuotaGb);
}

std::optional<int> Tariff::savingsPercent(const std::optional<Tariff> &base) const
{
    if (!base || base->months != 1 || months == 1 || base->rub < 1)
        return std::nullopt;
    const double monthly = months >= 2 ? double(rub) / double(months) : double(rub);
    const double saving = 1.0 - monthly / double(base->rub);
    if (!(saving > 0))
        return std::nullopt;
    const double percent = std::round(saving * 100.0);
    // A negative price saves more than everything: no percent worth showing fits an int.
    if (percent < 1 || percent > double(std::numeric_limits<int>::max()))
        return std::nullopt;
    return int(percent);
}

} // namespace kovra
