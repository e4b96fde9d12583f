#include "catalog/Connection.h"
#include "catalog/Entry.h"
#include "catalog/Region.h"

#include <QSet>
#include <QTest>

using namespace kovra;
using namespace Qt::StringLiterals;

namespace kovra {
// Failure messages show records as their JSON.
char *toString(const Region &r) { return qstrdup(JsonEncoder().encode(r).constData()); }
char *toString(const Entry &e) { return qstrdup(JsonEncoder().encode(e).constData()); }
char *toString(const Connection &c) { return qstrdup(JsonEncoder().encode(c).constData()); }
} // namespace kovra

namespace {

const JsonDecoder kCacheDecoder;
const JsonDecoder kServiceDecoder{KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601};

// "decode keyNotFound flag at <[1]>": the kind, the key or type and the coding path.
QString failureHead(const JsonDecodingError &e)
{
    const QString text = e.description();
    return text.left(text.indexOf(u">:") + 1);
}

// Decodes `json` as T; the failure head when it does not decode.
template<class T>
std::variant<T, QString> decodeOrFailure(const JsonDecoder &decoder, const QByteArray &json)
{
    try {
        return decoder.decode<T>(json);
    } catch (const JsonDecodingError &e) {
        return failureHead(e);
    }
}

template<class T>
void verifyDecoding(bool fromService, const QByteArray &json, const T &expected, const QString &failure)
{
    const auto result = decodeOrFailure<T>(fromService ? kServiceDecoder : kCacheDecoder, json);
    if (const QString *head = std::get_if<QString>(&result)) {
        QCOMPARE(*head, failure);
        return;
    }
    QVERIFY2(failure.isEmpty(), "decoded, expected a failure");
    QCOMPARE(std::get<T>(result), expected);
}

Region region(QString id, QString name, QString flag)
{
    Region r;
    r.id = std::move(id);
    r.name = std::move(name);
    r.flag = std::move(flag);
    return r;
}

Connection route(QString id, QString label)
{
    Connection c;
    c.id = std::move(id);
    c.label = std::move(label);
    c.entry = u"auto"_s;
    c.regionID = u"auto"_s;
    return c;
}

QStringList idsOf(const auto &list)
{
    QStringList ids;
    for (const auto &item : list)
        ids << item.id;
    return ids;
}

QStringList keysOf(const QByteArray &json)
{
    QStringList keys;
    const JsonValue object = JsonValue::parse(json);
    for (const auto &member : object.object())
        keys << member.first;
    return keys;
}

} // namespace

class CatalogRecordsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void regionDecoding_data()
    {
        QTest::addColumn<bool>("fromService");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<Region>("expected");
        QTest::addColumn<QString>("failure");
        const Region minimal = region(u"nl"_s, u"Амстердам"_s, u"🇳🇱"_s);
        const QByteArray head = R"({"id":"nl","name":"Амстердам","flag":"🇳🇱")";

        QTest::newRow("required keys only") << false << head + "}" << minimal << QString();
        QTest::newRow("nulls take the defaults")
            << false
            << head + R"(,"useCaseHint":null,"isPrimary":null,"isAuto":null,"matchKeywords":null,"status":null,)"
                      R"("provider":null,"isEphemeral":null})"
            << minimal << QString();
        Region full = minimal;
        full.useCaseHint = u"Европа"_s;
        full.isPrimary = true;
        full.matchKeywords = {u"🇳🇱 амстердам"_s, u"netherlands"_s, u"nl"_s};
        full.status = RegionStatus::degraded;
        full.provider = RegionProvider::gcp();
        full.isEphemeral = true;
        QTest::newRow("service reply in snake case, keywords lower-cased")
            << true
            << head + R"(,"use_case_hint":"Европа","is_primary":true,"is_auto":false,)"
                      R"("match_keywords":["🇳🇱 Амстердам","NetherLands","nl"],"status":"degraded",)"
                      R"("provider":"Google","is_ephemeral":true})"
            << full << QString();
        QTest::newRow("cache keys as the field names")
            << false
            << head + R"(,"useCaseHint":"Европа","isPrimary":true,"matchKeywords":["🇳🇱 амстердам","netherlands","nl"],)"
                      R"("status":"degraded","provider":"gcp","isEphemeral":true})"
            << full << QString();
        QTest::newRow("snake-case keys are not read from the cache")
            << false << head + R"(,"is_primary":true,"is_ephemeral":true})" << minimal << QString();
        QTest::newRow("status in other letter case") << false << head + R"(,"status":"Online"})" << minimal << QString();
        QTest::newRow("status naming no case") << false << head + R"(,"status":"sleeping"})" << minimal << QString();
        Region stopped = minimal;
        stopped.status = RegionStatus::stopped;
        QTest::newRow("status stopped") << false << head + R"(,"status":"stopped"})" << stopped << QString();

        QTest::newRow("no flag") << false << QByteArray(R"({"id":"nl","name":"x"})") << Region()
                                 << u"decode keyNotFound flag at <root>"_s;
        QTest::newRow("numeric id") << false << QByteArray(R"({"id":1,"name":"x","flag":""})") << Region()
                                    << u"decode typeMismatch String at <id>"_s;
        QTest::newRow("null name") << false << QByteArray(R"({"id":"nl","name":null,"flag":""})") << Region()
                                   << u"decode valueNotFound String at <name>"_s;
        QTest::newRow("numeric status") << false << head + R"(,"status":1})" << Region()
                                        << u"decode typeMismatch String at <status>"_s;
        QTest::newRow("string isPrimary") << true << head + R"(,"is_primary":"true"})" << Region()
                                          << u"decode typeMismatch Bool at <isPrimary>"_s;
        QTest::newRow("keyword that is no string") << false << head + R"(,"matchKeywords":["nl",7]})" << Region()
                                                   << u"decode typeMismatch String at <matchKeywords.[1]>"_s;
        QTest::newRow("numeric provider") << false << head + R"(,"provider":5})" << Region()
                                          << u"decode typeMismatch String at <provider>"_s;
    }
    void regionDecoding()
    {
        QFETCH(bool, fromService);
        QFETCH(QByteArray, json);
        QFETCH(Region, expected);
        QFETCH(QString, failure);
        verifyDecoding(fromService, json, expected, failure);
    }

    void providerParsing_data()
    {
        QTest::addColumn<std::optional<QString>>("text");
        QTest::addColumn<RegionProvider>("expected");
        QTest::newRow("none") << std::optional<QString>() << RegionProvider::absent();
        QTest::newRow("empty") << std::optional<QString>(u""_s) << RegionProvider::absent();
        QTest::newRow("gcp") << std::optional<QString>(u"gcp"_s) << RegionProvider::gcp();
        QTest::newRow("GOOGLE") << std::optional<QString>(u"GOOGLE"_s) << RegionProvider::gcp();
        QTest::newRow("Gce") << std::optional<QString>(u"Gce"_s) << RegionProvider::gcp();
        QTest::newRow("Amazon") << std::optional<QString>(u"Amazon"_s) << RegionProvider::aws();
        QTest::newRow("EC2") << std::optional<QString>(u"EC2"_s) << RegionProvider::aws();
        QTest::newRow("HipHosting") << std::optional<QString>(u"HipHosting"_s) << RegionProvider::hiphosting();
        QTest::newRow("ztv") << std::optional<QString>(u"ztv"_s) << RegionProvider::ztv();
        QTest::newRow("other in capitals") << std::optional<QString>(u"VDSina"_s) << RegionProvider::other(u"vdsina"_s);
        QTest::newRow("leading blank is kept") << std::optional<QString>(u" aws"_s) << RegionProvider::other(u" aws"_s);
        QTest::newRow("blank only") << std::optional<QString>(u" "_s) << RegionProvider::other(u" "_s);
    }
    void providerParsing()
    {
        QFETCH(std::optional<QString>, text);
        QFETCH(RegionProvider, expected);
        QCOMPARE(RegionProvider::parsing(text), expected);
    }

    void entryDecoding_data()
    {
        QTest::addColumn<bool>("fromService");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<Entry>("expected");
        QTest::addColumn<QString>("failure");
        const Entry minimal{u"ru-1"_s, u"РФ-1"_s, u"🇷🇺"_s, EntryKind::relay, false, std::nullopt};
        const QByteArray head = R"({"id":"ru-1","name":"РФ-1")";
        QTest::newRow("required keys only") << false << head + "}" << minimal << QString();
        QTest::newRow("nulls take the defaults")
            << false << head + R"(,"flag":null,"kind":null,"isDefault":null,"note":null})" << minimal << QString();
        Entry full{u"ru-1"_s, u"РФ-1"_s, u""_s, EntryKind::direct, true, u"заметка"_s};
        QTest::newRow("service reply, empty flag stays empty")
            << true << head + R"(,"flag":"","kind":"direct","is_default":true,"note":"заметка"})" << full << QString();
        QTest::newRow("kind in other letter case") << false << head + R"(,"kind":"Direct"})" << minimal << QString();
        QTest::newRow("kind naming no case") << false << head + R"(,"kind":"bridge"})" << minimal << QString();
        QTest::newRow("no name") << false << QByteArray(R"({"id":"ru-1"})") << Entry()
                                 << u"decode keyNotFound name at <root>"_s;
        QTest::newRow("numeric kind") << false << head + R"(,"kind":1})" << Entry()
                                      << u"decode typeMismatch String at <kind>"_s;
        QTest::newRow("string isDefault") << false << head + R"(,"isDefault":"yes"})" << Entry()
                                          << u"decode typeMismatch Bool at <isDefault>"_s;
    }
    void entryDecoding()
    {
        QFETCH(bool, fromService);
        QFETCH(QByteArray, json);
        QFETCH(Entry, expected);
        QFETCH(QString, failure);
        verifyDecoding(fromService, json, expected, failure);
    }

    void connectionDecoding_data()
    {
        QTest::addColumn<bool>("fromService");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<Connection>("expected");
        QTest::addColumn<QString>("failure");
        const Connection minimal = route(u"ru-1__nl"_s, u"РФ-1 → Амстердам"_s);
        const QByteArray head = R"({"id":"ru-1__nl","label":"РФ-1 → Амстердам")";
        QTest::newRow("required keys only") << false << head + "}" << minimal << QString();
        QTest::newRow("nulls take the defaults")
            << false
            << head + R"(,"flags":null,"entry":null,"regionId":null,"matchKeywords":null,"kind":null,)"
                      R"("isDefault":null,"status":null})"
            << minimal << QString();
        Connection full = minimal;
        full.flags = u"🇷🇺 → 🇳🇱"_s;
        full.entry = u"ru-1"_s;
        full.regionID = u"nl"_s;
        full.matchKeywords = {u"amsterdam"_s, u"nl"_s};
        full.kind = ConnectionKind::relay;
        full.isDefault = true;
        full.status = RegionStatus::online;
        QTest::newRow("service reply in snake case")
            << true
            << head + R"(,"flags":"🇷🇺 → 🇳🇱","entry":"ru-1","region_id":"nl","match_keywords":["Amsterdam","NL"],)"
                      R"("kind":"relay","is_default":true,"status":"online"})"
            << full << QString();
        QTest::newRow("cache key regionId")
            << false
            << head + R"(,"flags":"🇷🇺 → 🇳🇱","entry":"ru-1","regionId":"nl","matchKeywords":["amsterdam","nl"],)"
                      R"("kind":"relay","isDefault":true,"status":"online"})"
            << full << QString();
        QTest::newRow("regionID with a capital D is not read (cache)")
            << false << head + R"(,"regionID":"nl"})" << minimal << QString();
        QTest::newRow("regionID with a capital D is not read (service)")
            << true << head + R"(,"regionID":"nl"})" << minimal << QString();
        Connection automatic = minimal;
        automatic.kind = ConnectionKind::automatic;
        QTest::newRow("kind auto") << false << head + R"(,"kind":"auto"})" << automatic << QString();
        QTest::newRow("kind in other letter case") << false << head + R"(,"kind":"Direct"})" << minimal << QString();
        QTest::newRow("status naming no case") << false << head + R"(,"status":"asleep"})" << minimal << QString();
        QTest::newRow("no label") << false << QByteArray(R"({"id":"auto"})") << Connection()
                                  << u"decode keyNotFound label at <root>"_s;
        QTest::newRow("numeric regionId") << false << head + R"(,"regionId":3})" << Connection()
                                          << u"decode typeMismatch String at <regionId>"_s;
        QTest::newRow("keywords as one string") << false << head + R"(,"matchKeywords":"nl"})" << Connection()
                                                << u"decode typeMismatch Array at <matchKeywords>"_s;
    }
    void connectionDecoding()
    {
        QFETCH(bool, fromService);
        QFETCH(QByteArray, json);
        QFETCH(Connection, expected);
        QFETCH(QString, failure);
        verifyDecoding(fromService, json, expected, failure);
    }

    // One bad element fails the whole list, naming its position.
    void malformedElementFailsTheList()
    {
        const auto regions = decodeOrFailure<QList<Region>>(
            kServiceDecoder, R"([{"id":"a","name":"A","flag":""},{"id":"b","name":"B"}])");
        QCOMPARE(std::get<QString>(regions), u"decode keyNotFound flag at <[1]>"_s);
        const auto entries = decodeOrFailure<QList<Entry>>(kServiceDecoder, R"([{"id":"a","name":"A"},{"id":"b"}])");
        QCOMPARE(std::get<QString>(entries), u"decode keyNotFound name at <[1]>"_s);
        const auto routes = decodeOrFailure<QList<Connection>>(
            kCacheDecoder, R"([{"id":"a","label":"A"},{"id":"b","label":"B","isDefault":1}])");
        QCOMPARE(std::get<QString>(routes), u"decode typeMismatch Bool at <[1].isDefault>"_s);
    }

    void roundTrip()
    {
        Region bare = region(u"x"_s, u"X"_s, u""_s);
        const QByteArray bareJson = JsonEncoder().encode(bare);
        QCOMPARE(keysOf(bareJson), QStringList({u"id"_s, u"name"_s, u"flag"_s, u"isPrimary"_s, u"isAuto"_s,
                                                u"matchKeywords"_s, u"status"_s, u"isEphemeral"_s}));
        QList<Region> regions = Region::fallback();
        regions << bare;
        QCOMPARE(kCacheDecoder.decode<QList<Region>>(JsonEncoder().encode(regions)), regions);

        const Entry noNote{u"e"_s, u"E"_s, u""_s, EntryKind::direct, false, std::nullopt};
        QCOMPARE(keysOf(JsonEncoder().encode(noNote)),
                 QStringList({u"id"_s, u"name"_s, u"flag"_s, u"kind"_s, u"isDefault"_s}));
        QList<Entry> entries = Entry::fallback();
        entries << noNote;
        QCOMPARE(kCacheDecoder.decode<QList<Entry>>(JsonEncoder().encode(entries)), entries);

        const Connection emptyRoute{u""_s, u""_s, u""_s, u""_s, u""_s, {}, ConnectionKind::direct, false,
                                    RegionStatus::starting};
        QCOMPARE(keysOf(JsonEncoder().encode(emptyRoute)),
                 QStringList({u"id"_s, u"label"_s, u"flags"_s, u"entry"_s, u"regionId"_s, u"matchKeywords"_s,
                              u"kind"_s, u"isDefault"_s, u"status"_s}));
        QList<Connection> routes = Connection::fallback();
        routes << emptyRoute;
        QCOMPARE(kCacheDecoder.decode<QList<Connection>>(JsonEncoder().encode(routes)), routes);
    }

    void equalityAndHashing()
    {
        const QList<Region> regions = Region::fallback();
        Region ephemeral = regions.at(1);
        ephemeral.isEphemeral = true;
        Region otherProvider = regions.at(1);
        otherProvider.provider = RegionProvider::other(u"vdsinа"_s); // Cyrillic "а"
        Region noHint = regions.at(1);
        noHint.useCaseHint.reset();
        Region emptyHint = regions.at(1);
        emptyHint.useCaseHint = QString();
        const QSet<Region> set{regions.at(1), ephemeral, otherProvider, noHint, emptyHint, regions.at(1)};
        QCOMPARE(set.size(), 5);
        QVERIFY(regions.at(1) != ephemeral);
        QVERIFY(noHint != emptyHint);

        Entry relayed = Entry::fallback().at(1);
        Entry direct = relayed;
        direct.kind = EntryKind::direct;
        QVERIFY(relayed != direct);
        QCOMPARE(QSet<Entry>({relayed, direct, relayed}).size(), 2);

        const QList<Connection> routes = Connection::fallback();
        QCOMPARE(QSet<Connection>(routes.begin(), routes.end()).size(), routes.size());
    }

    void regionFallback()
    {
        const QList<Region> list = Region::fallback();
        QCOMPARE(idsOf(list), QStringList({u"auto"_s, u"nl"_s, u"ee"_s, u"ee-hy2"_s, u"fr-hy2"_s, u"nl-hy2"_s,
                                           u"fr"_s, u"us-aws"_s}));
        QCOMPARE(list.at(0), (Region{u"auto"_s, u"Авто"_s, u"⚡"_s, u"Самый быстрый сервер"_s, false, true,
                                     {u"best latency"_s, u"urltest"_s, u"auto"_s}, RegionStatus::unknown,
                                     RegionProvider::absent(), false}));
        QCOMPARE(list.at(1).provider, RegionProvider::other(u"vdsina"_s));
        QVERIFY(list.at(1).isPrimary);
        QCOMPARE(list.at(3).name, u"🇪🇪 Таллин \u00B7 Hy2"_s);
        QCOMPARE(list.at(5).useCaseHint.value_or(QString()), u"Hysteria2 (UDP/QUIC) \u00B7 прямой вход в Нидерланды (VDSina)"_s);
        QCOMPARE(list.at(7), (Region{u"us-aws"_s, u"США"_s, u"🇺🇸"_s, u"Поднимается по запросу"_s, false, false,
                                     {u"🇺🇸 сша \u00B7 aws"_s, u"usa"_s, u"сша"_s, u"united states"_s, u"америка"_s,
                                      u"us"_s},
                                     RegionStatus::stopped, RegionProvider::aws(), true}));
        QList<qsizetype> keywordCounts;
        for (const Region &r : list) {
            keywordCounts << r.matchKeywords.size();
            QCOMPARE(r.isEphemeral, r.id == u"us-aws");
            QCOMPARE(r.isPrimary, r.id == u"nl");
            QCOMPARE(r.matchKeywords, lowercasedCopy(r.matchKeywords));
        }
        QCOMPARE(keywordCounts, QList<qsizetype>({3, 8, 7, 13, 13, 17, 6, 6}));
        QCOMPARE(list.at(1).matchKeywords.first(), u"🇳🇱 амстердам"_s);
        QCOMPARE(list.at(1).matchKeywords.last(), u"nl"_s);
    }

    void entryFallbackAndDefault()
    {
        QCOMPARE(Entry::fallback(),
                 (QList<Entry>{{u"auto"_s, u"Авто"_s, u"\u2699\uFE0F"_s, EntryKind::relay, true,
                                u"Выбираем рабочий вход за вас"_s},
                               {u"ru-1"_s, u"РФ-1"_s, u"\U0001F1F7\U0001F1FA"_s, EntryKind::relay, false,
                                u"Через РФ \u00B7 стабильный вход"_s},
                               {u"ru-2"_s, u"РФ-2"_s, u"\U0001F1F7\U0001F1FA"_s, EntryKind::relay, false,
                                u"Через РФ \u00B7 второй канал"_s}}));
    }

    void defaultID_data()
    {
        QTest::addColumn<QList<bool>>("defaults");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty list") << QList<bool>() << u"auto"_s;
        QTest::newRow("no default takes the first") << QList<bool>({false, false, false}) << u"e0"_s;
        QTest::newRow("only the third is default") << QList<bool>({false, false, true}) << u"e2"_s;
        QTest::newRow("first of two defaults") << QList<bool>({false, true, true}) << u"e1"_s;
    }
    void defaultID()
    {
        QFETCH(QList<bool>, defaults);
        QFETCH(QString, expected);
        QList<Entry> entries;
        for (qsizetype i = 0; i < defaults.size(); ++i)
            entries << Entry{u"e%1"_s.arg(i), u"E"_s, u""_s, EntryKind::relay, defaults.at(i), std::nullopt};
        QCOMPARE(Entry::defaultID(entries), expected);
        QCOMPARE(Entry::defaultID(Entry::fallback()), u"auto"_s);
    }

    void connectionFallback()
    {
        const QList<Connection> list = Connection::fallback();
        QCOMPARE(idsOf(list), QStringList({u"auto"_s, u"ee-hy2"_s, u"fr-hy2"_s, u"nl-hy2"_s, u"ru-1__nl"_s,
                                           u"ru-1__ee"_s, u"ru-1__fr"_s, u"ru-2__nl"_s, u"ru-2__ee"_s,
                                           u"ru-2__fr"_s}));
        const QList<Region> regions = Region::fallback();
        for (const Connection &c : list) {
            QCOMPARE(c.id, Connection::compose(c.entry, c.regionID));
            QCOMPARE(c.status, RegionStatus::unknown);
            QCOMPARE(c.isDefault, c.id == u"auto");
            const auto region = std::find_if(regions.begin(), regions.end(),
                                             [&c](const Region &r) { return r.id == c.regionID; });
            QVERIFY2(region != regions.end(), qPrintable(c.id));
            QCOMPARE(c.matchKeywords, region->matchKeywords);
            QVERIFY(c.regionID != u"us-aws");
        }
        QCOMPARE(list.at(0).kind, ConnectionKind::automatic);
        QCOMPARE(list.at(0).flags, u"⚡"_s);
        QCOMPARE(list.at(3).kind, ConnectionKind::direct);
        QCOMPARE(list.at(3).label, u"🇳🇱 Амстердам \u00B7 Hy2"_s);
        QCOMPARE(list.at(3).flags, u"🚀"_s);
        QCOMPARE(list.at(4).kind, ConnectionKind::relay);
        QCOMPARE(list.at(7).flags, u"🇷🇺\u00B72 \u2192 🇳🇱"_s);
        QCOMPARE(list.at(9).label, u"РФ-2 \u2192 Париж"_s);
    }

    void compose_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("expected");
        QTest::newRow("automatic entry ignores the region") << u"auto"_s << u"nl"_s << u"auto"_s;
        QTest::newRow("direct entry is the region") << u"direct"_s << u"ee-hy2"_s << u"ee-hy2"_s;
        QTest::newRow("relay") << u"ru-2"_s << u"fr"_s << u"ru-2__fr"_s;
        QTest::newRow("empty entry") << u""_s << u"nl"_s << u"__nl"_s;
        QTest::newRow("empty region") << u"ru-1"_s << u""_s << u"ru-1__"_s;
        QTest::newRow("direct with empty region") << u"direct"_s << u""_s << u""_s;
        QTest::newRow("comparison is exact") << u"Auto"_s << u"nl"_s << u"Auto__nl"_s;
    }
    void compose()
    {
        QFETCH(QString, entry);
        QFETCH(QString, region);
        QFETCH(QString, expected);
        QCOMPARE(Connection::compose(entry, region), expected);
    }

    void mergedTitle_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("expected");
        QTest::newRow("lightning") << u"⚡"_s << u"Авто"_s << u"⚡ Авто"_s;
        QTest::newRow("two flagged hops") << u"🇷🇺 → 🇳🇱"_s << u"РФ-1 → Амстердам"_s << u"🇷🇺 РФ-1 → 🇳🇱 Амстердам"_s;
        QTest::newRow("flag with a suffix is kept whole")
            << u"🇷🇺·2 → 🇪🇪"_s << u"РФ-2 → Таллин"_s << u"🇷🇺·2 РФ-2 → 🇪🇪 Таллин"_s;
        QTest::newRow("rocket is dropped") << u"🚀"_s << u"🇪🇪 Таллин · Hy2"_s << u"🇪🇪 Таллин · Hy2"_s;
        QTest::newRow("empty flags, one hop") << u""_s << u"Авто"_s << u"Авто"_s;
        QTest::newRow("empty flags, two hops") << u""_s << u"РФ-1 → Амстердам"_s << u"РФ-1 → Амстердам"_s;
        QTest::newRow("empty flags keep the label's blanks") << u""_s << u" a → b "_s << u" a → b "_s;
        QTest::newRow("unequal counts put the flags first")
            << u"🚀"_s << u"РФ-1 → Амстердам"_s << u"🚀 РФ-1 → Амстердам"_s;
        QTest::newRow("three flags, two hops") << u"🇷🇺 → 🇩🇪 → 🇳🇱"_s << u"a → b"_s << u"🇷🇺 → 🇩🇪 → 🇳🇱 a → b"_s;
        QTest::newRow("parts are trimmed")
            << u"\t🇷🇺  →  🇳🇱 "_s << u" РФ-1\t →  Амстердам "_s << u"🇷🇺 РФ-1 → 🇳🇱 Амстердам"_s;
        QTest::newRow("non-breaking space is trimmed") << u"\u00A0⚡"_s << u"Авто\u00A0"_s << u"⚡ Авто"_s;
        QTest::newRow("neither hop flagged") << u"x → y"_s << u"a → b"_s << u"a → b"_s;
        QTest::newRow("one empty hop of two") << u" → 🇳🇱"_s << u"a → b"_s << u"a → 🇳🇱 b"_s;
        QTest::newRow("a single regional indicator is no flag") << u"🇷x"_s << u"a"_s << u"a"_s;
        QTest::newRow("lightning with variation selector is not lightning") << u"⚡\uFE0F"_s << u"a"_s << u"a"_s;
        QTest::newRow("separator without blanks does not split") << u"🇷🇺→🇳🇱"_s << u"a"_s << u"🇷🇺→🇳🇱 a"_s;
    }
    void mergedTitle()
    {
        QFETCH(QString, flags);
        QFETCH(QString, label);
        QFETCH(QString, expected);
        QCOMPARE(Connection::mergedTitle(flags, label), expected);
    }

    void routeProtocolAndEntry_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("regionID");
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<ConnectionKind>("kind");
        QTest::addColumn<bool>("hy2OrAwg");
        QTest::addColumn<bool>("matchesAuto");
        const auto D = ConnectionKind::direct;
        QTest::newRow("id suffix -hy2") << u"ee-hy2"_s << u"ee"_s << QStringList() << D << true << true;
        QTest::newRow("region suffix -AWG in capitals") << u"x"_s << u"DE-AWG"_s << QStringList() << D << true << true;
        QTest::newRow("suffix without dash") << u"eehy2"_s << u"ee"_s << QStringList() << D << false << false;
        QTest::newRow("keyword hysteria2") << u"x"_s << u"y"_s << QStringList{u"nl hysteria2"_s} << D << true << true;
        QTest::newRow("keyword amneziawg") << u"x"_s << u"y"_s << QStringList{u"via amneziawg"_s} << D << true << true;
        QTest::newRow("keyword in capitals is not folded")
            << u"x"_s << u"y"_s << QStringList{u"Hysteria2"_s, u"AWG"_s} << D << false << false;
        QTest::newRow("relay through hy2 is no auto match")
            << u"ru-1__nl-hy2"_s << u"nl-hy2"_s << QStringList() << ConnectionKind::relay << true << false;
        QTest::newRow("plain direct") << u"de"_s << u"de"_s << QStringList{u"germany"_s} << D << false << false;
    }
    void routeProtocolAndEntry()
    {
        QFETCH(QString, id);
        QFETCH(QString, regionID);
        QFETCH(QStringList, keywords);
        QFETCH(ConnectionKind, kind);
        QFETCH(bool, hy2OrAwg);
        QFETCH(bool, matchesAuto);
        const Connection c{id, u"L"_s, u""_s, u"ru-1"_s, regionID, keywords, kind, false, RegionStatus::online};
        QCOMPARE(c.isHy2OrAwg(), hy2OrAwg);
        QCOMPARE(c.matches(u"auto"_s), matchesAuto);
        QVERIFY(c.matches(u"ru-1"_s));
        QVERIFY(!c.matches(u"ru-2"_s));
        QVERIFY(!c.matches(u""_s));
    }

private:
    static QStringList lowercasedCopy(QStringList list)
    {
        for (QString &s : list)
            s = s.toLower();
        return list;
    }
};

QTEST_GUILESS_MAIN(CatalogRecordsTest)
#include "tst_catalog_records.moc"
