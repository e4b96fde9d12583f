#pragma once

#include "TariffCardTexts.h"

#include "account/MeOut.h"
#include "account/Tariff.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <optional>

// What the tariff screen derives from its plans and from the user record: the list's
// order, the best value, the one-month baseline, the selection a load leaves, the
// continue button's title, and which body the screen shows.
namespace kovra::ui {

// What the tariff screen shows under its header.
namespace BuyBody {
Q_NAMESPACE
QML_ELEMENT
enum Value {
    Placeholder, // the three skeleton cards
    Gate,        // Telegram must be linked first
    Error,       // the load failed and there is no list
    List,        // the plans (none for an empty map) and the included features
};
Q_ENUM_NS(Value)
} // namespace BuyBody

// One entry per plan in the map's order, then sorted by months, stably.
QList<TariffEntry> tariffEntries(const Tariffs &tariffs);

// The plan with the lowest price per month (roubles over months, a length below 1
// counting as 1); on a tie the earlier one. None with fewer than two plans.
std::optional<QString> bestValuePlanID(const QList<TariffEntry> &tariffs);
// The tariff of the first one-month plan, the base of every saving.
std::optional<Tariff> monthlyBaseline(const QList<TariffEntry> &tariffs);
// The first entry with that plan id; null for none.
const TariffEntry *entryWithID(const QList<TariffEntry> &tariffs, const std::optional<QString> &planID);
// The selection after a load of `tariffs`: `current` while still offered, else the
// best value, else the first plan, else none.
std::optional<QString> selectionAfterLoad(const QList<TariffEntry> &tariffs, const std::optional<QString> &current);

// "Перейти к оплате · ≈ 1490 ₽" for a selected plan, "Выберите тариф" without one.
QString continueButtonTitle(const TariffEntry *selected);

// The rows of the included-features card ([{symbol, text}]: speed, the monthly quota
// of the first (shortest) plan, locations); none without plans.
QVariantList includedFeatures(const QList<TariffEntry> &tariffs);

// What the user record allows: the gate while a record says Telegram is not linked,
// the tariffs once a record says it is or the record failed to load, the placeholder
// while neither is known.
enum class UserGate { Gate, Tariffs, Awaited };
UserGate userGate(const std::optional<MeOut> &record, bool recordFailed);

// The body: first the user gate, then the tariff state (the placeholder while the
// first load runs, the error card while a failure left no list, else the list).
BuyBody::Value buyBody(UserGate gate, bool isLoading, bool loadFailed, bool hasTariffs);
// The continue bar shows with the tariff content and at least one plan.
bool showsContinueBar(UserGate gate, bool hasTariffs);

} // namespace kovra::ui
