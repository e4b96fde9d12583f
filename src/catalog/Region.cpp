#include "catalog/Region.h"

#include "catalog/Keywords.h"

#include <QHashFunctions>

namespace kovra {

Region Region::decode(const JsonDecodingContainer &c)
{
    Region r;
    r.id = c.decode<QString>("id");
    r.name = c.decode<QString>("name");
    r.flag = c.decode<QString>("flag");
    r.useCaseHint = c.decodeIfPresent<QString>("useCaseHint");
    r.isPrimary = c.decodeIfPresent<bool>("isPrimary").value_or(false);
    r.isAuto = c.decodeIfPresent<bool>("isAuto").value_or(false);
    r.matchKeywords = decodeKeywords(c, "matchKeywords");
    r.status = regionStatusOrUnknown(c.decodeIfPresent<QString>("status"));
    r.provider = RegionProvider::parsing(c.decodeIfPresent<QString>("provider"));
    r.isEphemeral = c.decodeIfPresent<bool>("isEphemeral").value_or(false);
    return r;
}

void Region::encode(JsonEncodingContainer &c) const
{
    c.encode("id", id);
    c.encode("name", name);
    c.encode("flag", flag);
    c.encodeIfPresent("useCaseHint", useCaseHint);
    c.encode("isPrimary", isPrimary);
    c.encode("isAuto", isAuto);
    c.encode("matchKeywords", matchKeywords);
    c.encode("status", rawValue(status));
    c.encodeIfPresent("provider", provider.text());
    c.encode("isEphemeral", isEphemeral);
}

namespace {

using namespace Qt::StringLiterals;

Region builtIn(QString id, QString name, QString flag, QString hint, bool primary, bool isAuto, RegionStatus status,
               RegionProvider provider, bool ephemeral, QStringList keywords)
{
    return Region{std::move(id), std::move(name), std::move(flag), std::move(hint), primary, isAuto,
                  lowercased(std::move(keywords)), status, std::move(provider), ephemeral};
}

QList<Region> buildFallback()
{
    using S = RegionStatus;
    const RegionProvider vdsina = RegionProvider::other(QStringLiteral("vdsina"));
    const RegionProvider hiphosting = RegionProvider::hiphosting();
    return {
        builtIn(u"auto"_s, u"Авто"_s, u"⚡"_s, u"Самый быстрый сервер"_s, false, true, S::unknown,
                RegionProvider::absent(), false, {u"best latency"_s, u"urltest"_s, u"auto"_s}),
        builtIn(u"nl"_s, u"Амстердам"_s, u"🇳🇱"_s, u"Европа · Нидерланды"_s, true, false, S::unknown, vdsina, false,
                {u"🇳🇱 амстердам"_s, u"netherlands"_s, u"нидерланды"_s, u"нидерланд"_s, u"vdsina"_s,
                 u"amsterdam"_s, u"амстердам"_s, u"nl"_s}),
        builtIn(u"ee"_s, u"Таллин"_s, u"🇪🇪"_s, u"Европа · Эстония"_s, false, false, S::unknown, hiphosting, false,
                {u"🇪🇪 таллин"_s, u"estonia"_s, u"эстония"_s, u"tallinn"_s, u"tallin"_s, u"таллин"_s,
                 u"ee"_s}),
        builtIn(u"ee-hy2"_s, u"🇪🇪 Таллин · Hy2"_s, u"🚀"_s,
                u"Hysteria2 (UDP/QUIC) · прямой вход в Эстонию (Hiphosting)"_s, false, false, S::unknown,
                hiphosting, false,
                {u"🇪🇪 таллин · hy2"_s, u"эстония · hysteria2"_s, u"эстония hysteria2"_s,
                 u"estonia hysteria2"_s, u"ee hysteria2"_s, u"таллин hysteria2"_s, u"tallinn hysteria2"_s,
                 u"эстония · hy2"_s, u"эстония hy2"_s, u"estonia hy2"_s, u"ee hy2"_s, u"таллин hy2"_s,
                 u"tallinn hy2"_s}),
        builtIn(u"fr-hy2"_s, u"🇫🇷 Париж · Hy2"_s, u"🚀"_s,
                u"Hysteria2 (UDP/QUIC) · прямой вход во Францию (Hiphosting)"_s, false, false, S::unknown,
                hiphosting, false,
                {u"🇫🇷 париж · hy2"_s, u"франция · hysteria2"_s, u"франция hysteria2"_s,
                 u"france hysteria2"_s, u"fr hysteria2"_s, u"париж hysteria2"_s, u"paris hysteria2"_s,
                 u"франция · hy2"_s, u"франция hy2"_s, u"france hy2"_s, u"fr hy2"_s, u"париж hy2"_s,
                 u"paris hy2"_s}),
        builtIn(u"nl-hy2"_s, u"🇳🇱 Амстердам · Hy2"_s, u"🚀"_s,
                u"Hysteria2 (UDP/QUIC) · прямой вход в Нидерланды (VDSina)"_s, false, false, S::unknown, vdsina,
                false,
                {u"🇳🇱 амстердам · hy2"_s, u"нидерланды · hysteria2"_s, u"нидерланды hysteria2"_s,
                 u"netherlands hysteria2"_s, u"nl hysteria2"_s, u"vdsina hysteria2"_s,
                 u"амстердам · hysteria2"_s, u"амстердам hysteria2"_s, u"amsterdam hysteria2"_s,
                 u"нидерланды · hy2"_s, u"нидерланды hy2"_s, u"netherlands hy2"_s, u"nl hy2"_s,
                 u"vdsina hy2"_s, u"амстердам · hy2"_s, u"амстердам hy2"_s, u"amsterdam hy2"_s}),
        builtIn(u"fr"_s, u"Париж"_s, u"🇫🇷"_s, u"Европа · Франция"_s, false, false, S::unknown, hiphosting, false,
                {u"🇫🇷 париж"_s, u"france"_s, u"франция"_s, u"paris"_s, u"париж"_s, u"fr"_s}),
        builtIn(u"us-aws"_s, u"США"_s, u"🇺🇸"_s, u"Поднимается по запросу"_s, false, false, S::stopped,
                RegionProvider::aws(), true,
                {u"🇺🇸 сша · aws"_s, u"usa"_s, u"сша"_s, u"united states"_s, u"америка"_s, u"us"_s}),
    };
}

} // namespace

QList<Region> Region::fallback()
{
    static const QList<Region> list = buildFallback();
    return list;
}

size_t qHash(const Region &r, size_t seed)
{
    QtPrivate::QHashCombine hash;
    seed = hash(seed, r.id);
    seed = hash(seed, r.name);
    seed = hash(seed, r.flag);
    seed = hash(seed, r.useCaseHint.has_value());
    if (r.useCaseHint)
        seed = hash(seed, *r.useCaseHint);
    seed = hash(seed, r.isPrimary);
    seed = hash(seed, r.isAuto);
    seed = hashKeywords(r.matchKeywords, seed);
    seed = hash(seed, rawValue(r.status));
    seed = qHash(r.provider, seed);
    seed = hash(seed, r.isEphemeral);
    return seed;
}

} // namespace kovra
