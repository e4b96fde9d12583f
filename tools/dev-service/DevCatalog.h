#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace kovra::devservice {

struct DevRegion {
    QString id;
    QString name;
    QString flag;
    std::optional<QString> hint;
    bool isPrimary = false;
    bool isAuto = false;
    QStringList keywords;
    QString status; // while asleep, for on-demand regions
    std::optional<QString> provider;
    bool onDemand = false;
};

struct DevTariff {
    QString planId;
    int months = 0;
    int rub = 0;
    int stars = 0;
    double usdt = 0;
    int monthlyQuotaGb = 0;
};

// The development catalogue: online, degraded and offline regions, two on-demand ones
// (one with a provider alias), relay and direct entries, every kind of connection,
// and the plans of 1, 3, 6 and 12 months. Replies are written here in the service's
// snake_case, independently of the client's records.
namespace catalog {

const QList<DevRegion> &regions();
const DevRegion *region(const QString &id);
const QList<DevTariff> &tariffs();
const DevTariff *tariff(const QString &planId);

// The current status of a region by id.
using StatusOf = std::function<QString(const DevRegion &region)>;

QJsonArray regionsJson(const StatusOf &statusOf);
QJsonArray entriesJson();
// The routes: automatic, direct to single-hop and on-demand regions, and every relay
// entry to every European region; a route's status is its exit region's.
QJsonArray connectionsJson(const StatusOf &statusOf);
QJsonObject tariffsJson();
// A proxy configuration for the configuration download, one outbound per region.
QJsonObject configurationJson();

} // namespace catalog

} // namespace kovra::devservice
