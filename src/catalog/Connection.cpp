#include "catalog/Connection.h"

#include "catalog/Keywords.h"
#include "catalog/Region.h"

#include <QHashFunctions>

#include <array>

namespace kovra {

using namespace Qt::StringLiterals;

namespace {

constexpr std::array<std::pair<ConnectionKind, const char16_t *>, 3> kKinds{{
    {ConnectionKind::automatic, u"auto"},
    {ConnectionKind::direct, u"direct"},
    {ConnectionKind::relay, u"relay"},
}};

const QString kHopSeparator = u" \u2192 "_s;

bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QStringView trimmedBlanks(QStringView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isBlank(s.at(begin)))
        ++begin;
    while (end > begin && isBlank(s.at(end - 1)))
        --end;
    return s.sliced(begin, end - begin);
}

bool isRegionalIndicator(char32_t c)
{
    return c >= 0x1F1E6 && c <= 0x1F1FF;
}

// Whether the first two code points are regional indicators (a country flag).
bool startsWithFlag(QStringView s)
{
    // Each regional indicator takes two UTF-16 units.
    const QList<uint> head = s.left(4).toUcs4();
    return head.size() >= 2 && isRegionalIndicator(head.at(0)) && isRegionalIndicator(head.at(1));
}

QString mergedHop(QStringView flagPart, QStringView labelPart)
{
    const QStringView f = trimmedBlanks(flagPart);
    const QStringView l = trimmedBlanks(labelPart);
    if (!f.isEmpty() && (f == u"\u26A1" || startsWithFlag(f)))
        return f.toString() + u' ' + l.toString();
    return l.toString();
}

} // namespace

QString rawValue(ConnectionKind kind)
{
    for (const auto &[k, raw] : kKinds)
        if (k == kind)
            return QString::fromUtf16(raw);
    return {};
}

Connection Connection::decode(const JsonDecodingContainer &c)
{
    Connection r;
    r.id = c.decode<QString>("id");
    r.label = c.decode<QString>("label");
    r.flags = c.decodeIfPresent<QString>("flags").value_or(QString());
    r.entry = c.decodeIfPresent<QString>("entry").value_or(u"auto"_s);
    r.regionID = c.decodeIfPresent<QString>("regionId").value_or(u"auto"_s);
    r.matchKeywords = decodeKeywords(c, "matchKeywords");
    r.kind = ConnectionKind::relay;
    if (const auto kind = c.decodeIfPresent<QString>("kind")) {
        for (const auto &[k, raw] : kKinds)
            if (*kind == QStringView(raw))
                r.kind = k;
    }
    r.isDefault = c.decodeIfPresent<bool>("isDefault").value_or(false);
    r.status = regionStatusOrUnknown(c.decodeIfPresent<QString>("status"));
    return r;
}

void Connection::encode(JsonEncodingContainer &c) const
{
    c.encode("id", id);
    c.encode("label", label);
    c.encode("flags", flags);
    c.encode("entry", entry);
    c.encode("regionId", regionID);
    c.encode("matchKeywords", matchKeywords);
    c.encode("kind", rawValue(kind));
    c.encode("isDefault", isDefault);
    c.encode("status", rawValue(status));
}

QString Connection::compose(const QString &entry, const QString &region)
{
    if (entry == u"auto")
        return u"auto"_s;
    if (entry == u"direct")
        return region;
    return entry + u"__"_s + region;
}

QString Connection::mergedTitle(const QString &flags, const QString &label)
{
    const QList<QStringView> flagParts = QStringView(flags).split(kHopSeparator);
    const QList<QStringView> labelParts = QStringView(label).split(kHopSeparator);
    if (flagParts.size() != labelParts.size())
        return flags.isEmpty() ? label : flags + u' ' + label;
    QStringList hops;
    hops.reserve(flagParts.size());
    for (qsizetype i = 0; i < flagParts.size(); ++i)
        hops.append(mergedHop(flagParts.at(i), labelParts.at(i)));
    return hops.join(kHopSeparator);
}

bool Connection::isHy2OrAwg() const
{
    const QString lowerID = id.toLower();
    const QString lowerRegion = regionID.toLower();
    for (const QLatin1StringView suffix : {QLatin1StringView("-hy2"), QLatin1StringView("-awg")}) {
        if (lowerID.endsWith(suffix) || lowerRegion.endsWith(suffix))
            return true;
    }
    static const std::array<QLatin1StringView, 4> needles{QLatin1StringView("hy2"), QLatin1StringView("hysteria2"),
                                                          QLatin1StringView("awg"), QLatin1StringView("amneziawg")};
    for (const QString &keyword : matchKeywords)
        for (const QLatin1StringView needle : needles)
            if (keyword.contains(needle, Qt::CaseSensitive))
                return true;
    return false;
}

bool Connection::matches(const QString &entryID) const
{
    if (entry == entryID)
        return true;
    return entryID == u"auto" && kind == ConnectionKind::direct && isHy2OrAwg();
}

namespace {

QList<Connection> buildFallback()
{
    const QList<Region> regions = Region::fallback();
    const auto keywordsOf = [&regions](const QString &regionID) {
        for (const Region &r : regions)
            if (r.id == regionID)
                return r.matchKeywords;
        return QStringList{};
    };
    const auto route = [&keywordsOf](QString id, QString label, QString flags, QString entry, QString region,
                                     ConnectionKind kind, bool isDefault) {
        QStringList keywords = keywordsOf(region);
        return Connection{std::move(id), std::move(label), std::move(flags), std::move(entry), std::move(region),
                          std::move(keywords), kind, isDefault, RegionStatus::unknown};
    };
    using K = ConnectionKind;
    return {
        route(u"auto"_s, u"Авто"_s, u"⚡"_s, u"auto"_s, u"auto"_s, K::automatic, true),
        route(u"ee-hy2"_s, u"🇪🇪 Таллин · Hy2"_s, u"🚀"_s, u"direct"_s, u"ee-hy2"_s, K::direct, false),
        route(u"fr-hy2"_s, u"🇫🇷 Париж · Hy2"_s, u"🚀"_s, u"direct"_s, u"fr-hy2"_s, K::direct, false),
        route(u"nl-hy2"_s, u"🇳🇱 Амстердам · Hy2"_s, u"🚀"_s, u"direct"_s, u"nl-hy2"_s, K::direct, false),
        route(u"ru-1__nl"_s, u"РФ-1 → Амстердам"_s, u"🇷🇺 → 🇳🇱"_s, u"ru-1"_s, u"nl"_s, K::relay, false),
        route(u"ru-1__ee"_s, u"РФ-1 → Таллин"_s, u"🇷🇺 → 🇪🇪"_s, u"ru-1"_s, u"ee"_s, K::relay, false),
        route(u"ru-1__fr"_s, u"РФ-1 → Париж"_s, u"🇷🇺 → 🇫🇷"_s, u"ru-1"_s, u"fr"_s, K::relay, false),
        route(u"ru-2__nl"_s, u"РФ-2 → Амстердам"_s, u"🇷🇺·2 → 🇳🇱"_s, u"ru-2"_s, u"nl"_s, K::relay, false),
        route(u"ru-2__ee"_s, u"РФ-2 → Таллин"_s, u"🇷🇺·2 → 🇪🇪"_s, u"ru-2"_s, u"ee"_s, K::relay, false),
        route(u"ru-2__fr"_s, u"РФ-2 → Париж"_s, u"🇷🇺·2 → 🇫🇷"_s, u"ru-2"_s, u"fr"_s, K::relay, false),
    };
}

} // namespace

QList<Connection> Connection::fallback()
{
    static const QList<Connection> list = buildFallback();
    return list;
}

size_t qHash(const Connection &c, size_t seed)
{
    QtPrivate::QHashCombine hash;
    seed = hash(seed, c.id);
    seed = hash(seed, c.label);
    seed = hash(seed, c.flags);
    seed = hash(seed, c.entry);
    seed = hash(seed, c.regionID);
    seed = hashKeywords(c.matchKeywords, seed);
    seed = hash(seed, rawValue(c.kind));
    seed = hash(seed, c.isDefault);
    seed = hash(seed, rawValue(c.status));
    return seed;
}

} // namespace kovra
