#pragma once

#include "account/Tariff.h"

#include <QString>
#include <QVariantMap>

#include <optional>

namespace kovra::ui {

// One purchasable plan: the service's plan id (its identity) and the plan. Two entries
// are equal when the id and every field of the plan are.
struct TariffEntry {
    QString planID;
    Tariff tariff;

    const QString &id() const { return planID; }
    bool operator==(const TariffEntry &) const = default;
};

// The texts of one tariff card.
struct TariffCardTexts {
    QString months; // "3 мес."
    QString price; // "≈ 990 ₽"
    QString quota; // "100 ГБ / мес"
    QString savings; // "≈ −17%", empty without a saving
    QString stars; // "750"
    QString usdt; // "12.00 USDT"
    QString bestValue; // the best-value tag

    static TariffCardTexts of(const TariffEntry &entry, std::optional<int> savingsPercent);

    // What a screen reader says for the card: its texts in reading order.
    QString accessibleName(bool isBestValue) const;
    // The properties of TariffCard.qml for this card.
    QVariantMap cardProperties(bool isSelected, bool isBestValue) const;

    bool operator==(const TariffCardTexts &) const = default;
};

} // namespace kovra::ui
