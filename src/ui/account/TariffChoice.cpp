#include "TariffChoice.h"

#include "platform/L10n.h"

#include <algorithm>

namespace kovra::ui {

namespace {
double pricePerMonth(const Tariff &tariff)
{
    return double(tariff.rub) / double(std::max<qint64>(tariff.months, 1));
}
QVariantMap feature(const char *symbol, const QString &text)
{
    return {{QStringLiteral("symbol"), QString::fromLatin1(symbol)}, {QStringLiteral("text"), text}};
}

} // namespace

QList<TariffEntry> tariffEntries(const Tariffs &tariffs)
{
    QList<TariffEntry> entries;
    entries.reserve(tariffs.size());
    for (auto it = tariffs.cbegin(); it != tariffs.cend(); ++it)
        entries.append({it.key(), it.value()});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TariffEntry &a, const TariffEntry &b) { return a.tariff.months < b.tariff.months; });
    return entries;
}

std::optional<QString> bestValuePlanID(const QList<TariffEntry> &tariffs)
{
    if (tariffs.size() < 2)
        return std::nullopt;
    const TariffEntry *best = &tariffs.first();
    double bestPrice = pricePerMonth(best->tariff);
    for (const TariffEntry &entry : tariffs) {
        const double price = pricePerMonth(entry.tariff);
        if (price < bestPrice) {
            best = &entry;
            bestPrice = price;
        }
    }
    return best->planID;
}

std::optional<Tariff> monthlyBaseline(const QList<TariffEntry> &tariffs)
{
    for (const TariffEntry &entry : tariffs) {
        if (entry.tariff.months == 1)
            return entry.tariff;
    }
    return std::nullopt;
}

const TariffEntry *entryWithID(const QList<TariffEntry> &tariffs, const std::optional<QString> &planID)
{
    if (!planID)
        return nullptr;
    const auto it = std::find_if(tariffs.cbegin(), tariffs.cend(),
                                 [&planID](const TariffEntry &entry) { return entry.planID == *planID; });
    return it == tariffs.cend() ? nullptr : &*it;
}

std::optional<QString> selectionAfterLoad(const QList<TariffEntry> &tariffs, const std::optional<QString> &current)
{
    if (entryWithID(tariffs, current))
        return current;
    if (std::optional<QString> best = bestValuePlanID(tariffs))
        return best;
    if (!tariffs.isEmpty())
        return tariffs.first().planID;
    return std::nullopt;
}

QString continueButtonTitle(const TariffEntry *selected)
{
    if (!selected)
        return L10n::text("buy.continue.choose", u"Выберите тариф");
    return L10n::format(L10n::text("buy.continue", u"Перейти к оплате · ≈ %d ₽"), {selected->tariff.rub});
}

QVariantList includedFeatures(const QList<TariffEntry> &tariffs)
{
    if (tariffs.isEmpty())
        return {};
    const qint64 quota = tariffs.first().tariff.monthlyQuotaGb;
    return {feature("gauge.with.dots.needle.100percent", L10n::text("buy.included.speed", u"Безлимит скорости")),
            feature("arrow.up.arrow.down.circle.fill",
                    L10n::format(L10n::text("buy.included.quota", u"%d ГБ / мес"), {quota})),
            feature("globe", L10n::text("buy.included.locations", u"Все локации"))};
}

UserGate userGate(const std::optional<MeOut> &record, bool recordFailed)
{
    if (record)
        return record->hasTelegram ? UserGate::Tariffs : UserGate::Gate;
    return recordFailed ? UserGate::Tariffs : UserGate::Awaited;
}

BuyBody::Value buyBody(UserGate gate, bool isLoading, bool loadFailed, bool hasTariffs)
{
    if (gate == UserGate::Gate)
        return BuyBody::Gate;
    if (gate == UserGate::Awaited || (isLoading && !hasTariffs))
        return BuyBody::Placeholder;
    if (loadFailed && !hasTariffs)
        return BuyBody::Error;
    return BuyBody::List;
}

bool showsContinueBar(UserGate gate, bool hasTariffs)
{
    return gate == UserGate::Tariffs && hasTariffs;
}

} // namespace kovra::ui
