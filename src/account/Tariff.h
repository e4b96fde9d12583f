#pragma once

#include "platform/Json.h"

#include <QMap>
#include <QString>

#include <optional>

namespace kovra {

// One subscription plan the service sells.
struct Tariff {
    qint64 months = 0;
    qint64 rub = 0; // price in roubles
    qint64 stars = 0; // price in Telegram Stars
    double usdt = 0;
    qint64 monthlyQuotaGb = 0;

    static Tariff decode(const JsonDecodingContainer &c);
    void encode(JsonEncodingContainer &c) const;
    bool operator==(const Tariff &) const = default;

    // The whole percent this plan saves per month against `base`, the one-month plan of
    // the same list. None without a one-month base, for the one-month plan itself, for
    // a free base, and when the saving rounds (halves away from zero) below 1 percent.
    std::optional<int> savingsPercent(const std::optional<Tariff> &base) const;
};

// The plans by plan id. The ids are the service's own and go back to it unchanged;
// the map has no meaningful order (screens sort by months).
using Tariffs = QMap<QString, Tariff>;

} // namespace kovra
