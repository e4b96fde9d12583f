#include "dev-service/DevCatalog.h"

namespace kovra::devservice::catalog {

using namespace Qt::StringLiterals;

namespace {

const QString kStopped = QStringLiteral("stopped");

QJsonValue optionalText(const std::optional<QString> &text)
{
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

struct DevEntry {
    QString id;
    QString name;
    QString flag;
    QString kind;
    bool isDefault = false;
    QString note;
};

const QList<DevEntry> &entries()
{
    static const QList<DevEntry> list{
        {u"auto"_s, u"Авто"_s, u"⚙️"_s, u"relay"_s, true, u"Выбираем рабочий вход за вас"_s},
        {u"ru-1"_s, u"РФ-1"_s, u"🇷🇺"_s, u"relay"_s, false, u"Через РФ · стабильный вход"_s},
        {u"ru-2"_s, u"РФ-2"_s, u"🇷🇺"_s, u"relay"_s, false, u"Через РФ · второй канал"_s},
        {u"direct"_s, u"Напрямую"_s, u"🌐"_s, u"direct"_s, false, u"Без промежуточного сервера"_s},
    };
    return list;
}

QJsonObject connection(const QString &id, const QString &label, const QString &flags, const QString &entry,
                       const DevRegion &region, const QString &kind, bool isDefault, const StatusOf &statusOf)
{
    return {{"id", id},
            {"label", label},
            {"flags", flags},
            {"entry", entry},
            {"region_id", region.id},
            {"match_keywords", QJsonArray::fromStringList(region.keywords)},
            {"kind", kind},
            {"is_default", isDefault},
            {"status", statusOf(region)}};
}

} // namespace

const QList<DevRegion> &regions()
{
    static const QList<DevRegion> list{
        {u"auto"_s, u"Авто"_s, u"⚡"_s, u"Самый быстрый сервер"_s, false, true,
         {u"best latency"_s, u"urltest"_s, u"auto"_s}, u"online"_s, std::nullopt, false},
        {u"nl"_s, u"Амстердам"_s, u"🇳🇱"_s, u"Европа · Нидерланды"_s, true, false,
         {u"🇳🇱 Амстердам"_s, u"Netherlands"_s, u"amsterdam"_s, u"NL"_s}, u"online"_s, u"vdsina"_s, false},
        {u"ee"_s, u"Таллин"_s, u"🇪🇪"_s, u"Европа · Эстония"_s, false, false,
         {u"🇪🇪 таллин"_s, u"estonia"_s, u"tallinn"_s, u"ee"_s}, u"degraded"_s, u"hiphosting"_s, false},
        {u"fr"_s, u"Париж"_s, u"🇫🇷"_s, u"Европа · Франция"_s, false, false,
         {u"🇫🇷 париж"_s, u"france"_s, u"paris"_s, u"fr"_s}, u"offline"_s, u"hiphosting"_s, false},
        {u"ee-hy2"_s, u"🇪🇪 Таллин · Hy2"_s, u"🚀"_s, u"Hysteria2 (UDP/QUIC) · прямой вход в Эстонию"_s, false, false,
         {u"🇪🇪 таллин · hy2"_s, u"estonia hy2"_s, u"ee hy2"_s}, u"online"_s, u"hiphosting"_s, false},
        {u"us-aws"_s, u"США"_s, u"🇺🇸"_s, u"Поднимается по запросу"_s, false, false,
         {u"🇺🇸 сша · aws"_s, u"usa"_s, u"us"_s}, kStopped, u"aws"_s, true},
        {u"de-gcp"_s, u"Франкфурт"_s, u"🇩🇪"_s, u"Поднимается по запросу"_s, false, false,
         {u"🇩🇪 франкфурт · gcp"_s, u"germany"_s, u"frankfurt"_s, u"de"_s}, kStopped, u"Google"_s, true},
    };
    return list;
}

const DevRegion *region(const QString &id)
{
    for (const DevRegion &r : regions()) {
        if (r.id == id)
            return &r;
    }
    return nullptr;
}

const QList<DevTariff> &tariffs()
{
    static const QList<DevTariff> list{
        {u"month_1"_s, 1, 300, 150, 3.49, 100},
        {u"month_3"_s, 3, 810, 400, 9.49, 100},
        {u"month_6"_s, 6, 1500, 750, 16.99, 150},
        {u"month_12"_s, 12, 2700, 1350, 29.99, 200},
    };
    return list;
}

const DevTariff *tariff(const QString &planId)
{
    for (const DevTariff &t : tariffs()) {
        if (t.planId == planId)
            return &t;
    }
    return nullptr;
}

QJsonArray regionsJson(const StatusOf &statusOf)
{
    QJsonArray out;
    for (const DevRegion &r : regions()) {
        out.append(QJsonObject{{"id", r.id},
                               {"name", r.name},
                               {"flag", r.flag},
                               {"use_case_hint", optionalText(r.hint)},
                               {"is_primary", r.isPrimary},
                               {"is_auto", r.isAuto},
                               {"match_keywords", QJsonArray::fromStringList(r.keywords)},
                               {"status", statusOf(r)},
                               {"provider", optionalText(r.provider)},
                               {"is_ephemeral", r.onDemand}});
    }
    return out;
}

QJsonArray entriesJson()
{
    QJsonArray out;
    for (const DevEntry &e : entries()) {
        out.append(QJsonObject{{"id", e.id},
                               {"name", e.name},
                               {"flag", e.flag},
                               {"kind", e.kind},
                               {"is_default", e.isDefault},
                               {"note", e.note}});
    }
    return out;
}

QJsonArray connectionsJson(const StatusOf &statusOf)
{
    QJsonArray out;
    out.append(connection(u"auto"_s, u"Авто"_s, u"⚡"_s, u"auto"_s, *region(u"auto"_s), u"auto"_s, true, statusOf));
    for (const QString &id : {u"ee-hy2"_s, u"us-aws"_s, u"de-gcp"_s}) {
        const DevRegion &r = *region(id);
        // A direct route's id is its region's.
        out.append(connection(r.id, r.name, r.flag, u"direct"_s, r, u"direct"_s, false, statusOf));
    }
    for (const auto &[entry, entryFlag] : {std::pair{u"ru-1"_s, u"🇷🇺"_s}, std::pair{u"ru-2"_s, u"🇷🇺·2"_s}}) {
        const QString entryName = entry == u"ru-1" ? u"РФ-1"_s : u"РФ-2"_s;
        for (const QString &id : {u"nl"_s, u"ee"_s, u"fr"_s}) {
            const DevRegion &r = *region(id);
            out.append(connection(entry + u"__"_s + r.id, entryName + u" → "_s + r.name, entryFlag + u" → "_s + r.flag, entry, r,
                                  u"relay"_s, false, statusOf));
        }
    }
    return out;
}

QJsonObject tariffsJson()
{
    QJsonObject out;
    for (const DevTariff &t : tariffs()) {
        out.insert(t.planId, QJsonObject{{"months", t.months},
                                         {"rub", t.rub},
                                         {"stars", t.stars},
                                         {"usdt", t.usdt},
                                         {"monthly_quota_gb", t.monthlyQuotaGb}});
    }
    return out;
}

QJsonObject configurationJson()
{
    // Outbounds point at the discard port of loopback: the configuration is only for show.
    QJsonArray outbounds;
    QJsonArray members;
    for (const DevRegion &r : regions()) {
        if (r.isAuto)
            continue;
        const QString tag = r.keywords.constFirst();
        members.append(tag);
        outbounds.append(QJsonObject{{"type", "vless"}, {"tag", tag}, {"server", "127.0.0.1"}, {"server_port", 9}});
    }
    outbounds.prepend(QJsonObject{{"type", "urltest"}, {"tag", "best latency"}, {"outbounds", members}});
    outbounds.append(QJsonObject{{"type", "direct"}, {"tag", "direct"}});
    return {{"log", QJsonObject{{"level", "warn"}}}, {"outbounds", outbounds}, {"route", QJsonObject{{"final", "best latency"}}}};
}

} // namespace kovra::devservice::catalog
