#include "TariffCardTexts.h"

#include "platform/L10n.h"

#include <QStringList>

namespace kovra::ui {

TariffCardTexts TariffCardTexts::of(const TariffEntry &entry, std::optional<int> savingsPercent)
{
    const Tariff &t = entry.tariff;
    TariffCardTexts texts;
    texts.months = L10n::format(L10n::text("buy.card.months", u"%d мес."), {t.months});
    // The price's key is its own default text.
    texts.price = L10n::format(L10n::text("≈ %lld ₽", u"≈ %lld ₽"), {t.rub});
    texts.quota = L10n::format(L10n::text("buy.card.quota", u"%d ГБ / мес"), {t.monthlyQuotaGb});
    if (savingsPercent)
        texts.savings = L10n::format(L10n::text("buy.card.savings", u"≈ −%d%%"), {*savingsPercent});
    texts.stars = QString::number(t.stars);
    texts.usdt = L10n::format(QStringLiteral("%.2f USDT"), {t.usdt});
    texts.bestValue = L10n::text("buy.card.best_value", u"Выгоднее всего");
    return texts;
}

QString TariffCardTexts::accessibleName(bool isBestValue) const
{
    QStringList parts{months};
    if (isBestValue)
        parts.append(bestValue);
    parts << price << quota;
    if (!savings.isEmpty())
        parts.append(savings);
    parts << stars << usdt;
    return parts.join(QStringLiteral(", "));
}

QVariantMap TariffCardTexts::cardProperties(bool isSelected, bool isBestValue) const
{
    return {{QStringLiteral("monthsText"), months},
            {QStringLiteral("priceText"), price},
            {QStringLiteral("quotaText"), quota},
            {QStringLiteral("savingsText"), savings},
            {QStringLiteral("starsText"), stars},
            {QStringLiteral("usdtText"), usdt},
            {QStringLiteral("bestValueText"), bestValue},
            {QStringLiteral("accessibleName"), accessibleName(isBestValue)},
            {QStringLiteral("isSelected"), isSelected},
            {QStringLiteral("isBestValue"), isBestValue}};
}

} // namespace kovra::ui
