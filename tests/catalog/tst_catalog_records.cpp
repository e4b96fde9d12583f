#include "catalog/Connection.h"
#include "catalog/Entry.h"
#include "catalog/Region.h"

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

// The decoded value, or the head of the failure ("decode keyNotFound flag at <[1]>").
template<class T>
std::variant<T, QString> decodeOrFailure(bool fromService, const QByteArray &json)
{
    try {
        return (fromService ? kServiceDecoder : kCacheDecoder).decode<T>(json);
    } catch (const JsonDecodingError &e) {
        const QString text = e.description();
        return text.left(text.indexOf(u">:") + 1);
    }
}

template<class T>
void verifyDecoding(bool fromService, const QByteArray &json, const T &expected, const QString &failure)
{
    const auto result = decodeOrFailure<T>(fromService, json);
    if (const QString *head = std::get_if<QString>(&result))
        QCOMPARE(*head, failure);
    else if (failure.isEmpty())
        QCOMPARE(std::get<T>(result), expected);
    else
        QFAIL(qPrintable("decoded, expected " + failure));
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
    const JsonValue object = JsonValue::parse(json);
    QStringList keys;
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
        const Region minimal{u"nl"_s, u"Амстердам"_s, u"🇳🇱"_s};
        const QByteArray head = R"({"id":"nl","name":"Амстердам","flag":"🇳🇱")";
        QTest::newRow("required keys only") << false << head + "}" << minimal << QString();
        const Region full{u"nl"_s, u"Амстердам"_s, u"🇳🇱"_s, u"Европа"_s, true, false,
                          {u"🇳🇱 амстердам"_s, u"netherlands"_s}, RegionStatus::degraded, RegionProvider::gcp(), true};
        QTest::newRow("service reply in snake case, keywords lower-cased")
            << true
            << head + R"(,"use_case_hint":"Европа","is_primary":true,"is_auto":false,)"
                      R"("match_keywords":["🇳🇱 Амстердам","NetherLands"],"status":"degraded",)"
                      R"("provider":"Google","is_ephemeral":true})"
            << full << QString();
        QTest::newRow("snake-case keys are not read from the cache")
            << false << head + R"(,"is_primary":true,"is_ephemeral":true})" << minimal << QString();
        QTest::newRow("status in other letter case") << false << head + R"(,"status":"Online"})" << minimal << QString();
        QTest::newRow("status naming no case") << false << head + R"(,"status":"asleep"})" << minimal << QString();
        QTest::newRow("no flag") << false << QByteArray(R"({"id":"nl","name":"x"})") << Region()
                                 << u"decode keyNotFound flag at <root>"_s;
        QTest::newRow("numeric status") << false << head + R"(,"status":1})" << Region()
                                        << u"decode typeMismatch String at <status>"_s;
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
        QTest::newRow("GOOGLE") << std::optional<QString>(u"GOOGLE"_s) << RegionProvider::gcp();
        QTest::newRow("Amazon") << std::optional<QString>(u"Amazon"_s) << RegionProvider::aws();
        QTest::newRow("HipHosting") << std::optional<QString>(u"HipHosting"_s) << RegionProvider::hiphosting();
        QTest::newRow("other, lower-cased") << std::optional<QString>(u"VDSina"_s) << RegionProvider::other(u"vdsina"_s);
        QTest::newRow("leading blank is kept") << std::optional<QString>(u" aws"_s) << RegionProvider::other(u" aws"_s);
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
        QTest::newRow("service reply, empty flag stays empty")
            << true << head + R"(,"flag":"","kind":"direct","is_default":true,"note":"n"})"
            << Entry{u"ru-1"_s, u"РФ-1"_s, u""_s, EntryKind::direct, true, u"n"_s} << QString();
        QTest::newRow("kind in other letter case") << false << head + R"(,"kind":"Direct"})" << minimal << QString();
        QTest::newRow("no name") << false << QByteArray(R"({"id":"ru-1"})") << Entry()
                                 << u"decode keyNotFound name at <root>"_s;
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
        const Connection minimal{u"r"_s, u"R"_s, u""_s, u"auto"_s, u"auto"_s, {}, ConnectionKind::relay, false,
                                 RegionStatus::unknown};
        const QByteArray head = R"({"id":"r","label":"R")";
        QTest::newRow("required keys only") << false << head + "}" << minimal << QString();
        const Connection full{u"r"_s, u"R"_s, u"🇷🇺 → 🇳🇱"_s, u"ru-1"_s, u"nl"_s, {u"amsterdam"_s},
                              ConnectionKind::direct, true, RegionStatus::online};
        QTest::newRow("service reply in snake case")
            << true
            << head + R"(,"flags":"🇷🇺 → 🇳🇱","entry":"ru-1","region_id":"nl","match_keywords":["Amsterdam"],)"
                      R"("kind":"direct","is_default":true,"status":"online"})"
            << full << QString();
        QTest::newRow("cache key regionId")
            << false
            << head + R"(,"flags":"🇷🇺 → 🇳🇱","entry":"ru-1","regionId":"nl","matchKeywords":["amsterdam"],)"
                      R"("kind":"direct","isDefault":true,"status":"online"})"
            << full << QString();
        QTest::newRow("regionID with a capital D is not read")
            << true << head + R"(,"regionID":"nl"})" << minimal << QString();
        Connection automatic = minimal;
        automatic.kind = ConnectionKind::automatic;
        QTest::newRow("kind auto") << false << head + R"(,"kind":"auto"})" << automatic << QString();
        QTest::newRow("unknown kind and status")
            << false << head + R"(,"kind":"Direct","status":"asleep"})" << minimal << QString();
        QTest::newRow("no label") << false << QByteArray(R"({"id":"auto"})") << Connection()
                                  << u"decode keyNotFound label at <root>"_s;
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
        const auto regions =
            decodeOrFailure<QList<Region>>(true, R"([{"id":"a","name":"A","flag":""},{"id":"b","name":"B"}])");
        QCOMPARE(std::get<QString>(regions), u"decode keyNotFound flag at <[1]>"_s);
        const auto entries = decodeOrFailure<QList<Entry>>(true, R"([{"id":"a","name":"A"},{"id":"b"}])");
        QCOMPARE(std::get<QString>(entries), u"decode keyNotFound name at <[1]>"_s);
        const auto routes =
            decodeOrFailure<QList<Connection>>(false, R"([{"id":"a","label":"A"},{"id":"b","label":"B","isDefault":1}])");
        QCOMPARE(std::get<QString>(routes), u"decode typeMismatch Bool at <[1].isDefault>"_s);
    }

    // Every built-in record and a bare one survive encoding and decoding; absent values
    // leave their keys out, routes always write all nine.
    void roundTrip()
    {
        const Region bare{u"x"_s, u"X"_s, u""_s};
        QCOMPARE(keysOf(JsonEncoder().encode(bare)), QStringList({u"id"_s, u"name"_s, u"flag"_s, u"isPrimary"_s,
                                                                  u"isAuto"_s, u"matchKeywords"_s, u"status"_s,
                                                                  u"isEphemeral"_s}));
        const QList<Region> regions = Region::fallback() << bare;
        QCOMPARE(kCacheDecoder.decode<QList<Region>>(JsonEncoder().encode(regions)), regions);

        const Entry noNote{u"e"_s, u"E"_s, u""_s, EntryKind::direct, false, std::nullopt};
        QCOMPARE(keysOf(JsonEncoder().encode(noNote)),
                 QStringList({u"id"_s, u"name"_s, u"flag"_s, u"kind"_s, u"isDefault"_s}));
        const QList<Entry> entries = Entry::fallback() << noNote;
        QCOMPARE(kCacheDecoder.decode<QList<Entry>>(JsonEncoder().encode(entries)), entries);

        const Connection empty{{}, {}, {}, {}, {}, {}, ConnectionKind::direct, false, RegionStatus::starting};
        QCOMPARE(keysOf(JsonEncoder().encode(empty)),
                 QStringList({u"id"_s, u"label"_s, u"flags"_s, u"entry"_s, u"regionId"_s, u"matchKeywords"_s,
                              u"kind"_s, u"isDefault"_s, u"status"_s}));
        const QList<Connection> routes = Connection::fallback() << empty;
        QCOMPARE(kCacheDecoder.decode<QList<Connection>>(JsonEncoder().encode(routes)), routes);
    }

    void fallbackLists()
    {
        const QList<Region> regions = Region::fallback();
        QCOMPARE(idsOf(regions), QStringList({u"auto"_s, u"nl"_s, u"ee"_s, u"ee-hy2"_s, u"fr-hy2"_s, u"nl-hy2"_s,
                                              u"fr"_s, u"us-aws"_s}));
        QCOMPARE(regions.first(), (Region{u"auto"_s, u"Авто"_s, u"⚡"_s, u"Самый быстрый сервер"_s, false, true,
                                          {u"best latency"_s, u"urltest"_s, u"auto"_s}, RegionStatus::unknown,
                                          RegionProvider::absent(), false}));
        QCOMPARE(regions.last(), (Region{u"us-aws"_s, u"США"_s, u"🇺🇸"_s, u"Поднимается по запросу"_s, false, false,
                                         {u"🇺🇸 сша \u00B7 aws"_s, u"usa"_s, u"сша"_s, u"united states"_s,
                                          u"америка"_s, u"us"_s},
                                         RegionStatus::stopped, RegionProvider::aws(), true}));
        QList<qsizetype> keywordCounts;
        for (const Region &r : regions) {
            keywordCounts << r.matchKeywords.size();
            QCOMPARE(r.isPrimary, r.id == u"nl");
            QCOMPARE(r.isEphemeral, r.id == u"us-aws");
        }
        QCOMPARE(keywordCounts, QList<qsizetype>({3, 8, 7, 13, 13, 17, 6, 6}));
        QCOMPARE(regions.at(5).provider, RegionProvider::other(u"vdsina"_s));

        QCOMPARE(Entry::fallback(),
                 (QList<Entry>{{u"auto"_s, u"Авто"_s, u"\u2699\uFE0F"_s, EntryKind::relay, true,
                                u"Выбираем рабочий вход за вас"_s},
                               {u"ru-1"_s, u"РФ-1"_s, u"🇷🇺"_s, EntryKind::relay, false, u"Через РФ \u00B7 стабильный вход"_s},
                               {u"ru-2"_s, u"РФ-2"_s, u"🇷🇺"_s, EntryKind::relay, false, u"Через РФ \u00B7 второй канал"_s}}));

        const QList<Connection> routes = Connection::fallback();
        QCOMPARE(idsOf(routes), QStringList({u"auto"_s, u"ee-hy2"_s, u"fr-hy2"_s, u"nl-hy2"_s, u"ru-1__nl"_s,
                                             u"ru-1__ee"_s, u"ru-1__fr"_s, u"ru-2__nl"_s, u"ru-2__ee"_s,
                                             u"ru-2__fr"_s}));
        for (const Connection &c : routes) {
            QCOMPARE(c.id, Connection::compose(c.entry, c.regionID));
            QCOMPARE(c.isDefault, c.id == u"auto");
            QCOMPARE(c.status, RegionStatus::unknown);
            QCOMPARE(c.matchKeywords, regions.at(idsOf(regions).indexOf(c.regionID)).matchKeywords);
        }
        QCOMPARE(routes.first().kind, ConnectionKind::automatic);
        QCOMPARE(routes.at(3), (Connection{u"nl-hy2"_s, u"🇳🇱 Амстердам \u00B7 Hy2"_s, u"🚀"_s, u"direct"_s,
                                           u"nl-hy2"_s, regions.at(5).matchKeywords, ConnectionKind::direct, false,
                                           RegionStatus::unknown}));
        QCOMPARE(routes.at(7).flags, u"🇷🇺\u00B72 \u2192 🇳🇱"_s);
        QCOMPARE(routes.at(7).label, u"РФ-2 \u2192 Амстердам"_s);
    }

    void defaultID_data()
    {
        QTest::addColumn<QList<bool>>("defaults");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty list") << QList<bool>() << u"auto"_s;
        QTest::newRow("no default takes the first") << QList<bool>({false, false}) << u"e0"_s;
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
        QTest::newRow("empty flags, two hops keep blanks") << u""_s << u" a → b "_s << u" a → b "_s;
        QTest::newRow("unequal counts put the flags first")
            << u"🚀"_s << u"РФ-1 → Амстердам"_s << u"🚀 РФ-1 → Амстердам"_s;
        QTest::newRow("parts are trimmed of blanks and tabs")
            << u"\t🇷🇺  →  🇳🇱\u00A0"_s << u" РФ-1\t →  Амстердам "_s << u"🇷🇺 РФ-1 → 🇳🇱 Амстердам"_s;
        QTest::newRow("one empty hop of two") << u" → 🇳🇱"_s << u"a → b"_s << u"a → 🇳🇱 b"_s;
        QTest::newRow("one regional indicator is no flag") << u"🇷x"_s << u"a"_s << u"a"_s;
    }
    void mergedTitle()
    {
        QFETCH(QString, flags);
        QFETCH(QString, label);
        QFETCH(QString, expected);
        QCOMPARE(Connection::mergedTitle(flags, label), expected);
    }

    void protocolAndEntryMatch_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("regionID");
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<ConnectionKind>("kind");
        QTest::addColumn<bool>("hy2OrAwg");
        QTest::addColumn<bool>("matchesAuto");
        const auto D = ConnectionKind::direct;
        QTest::newRow("id suffix -hy2") << u"ee-hy2"_s << u"ee"_s << QStringList() << D << true << true;
        QTest::newRow("region suffix -AWG") << u"x"_s << u"DE-AWG"_s << QStringList() << D << true << true;
        QTest::newRow("keyword amneziawg") << u"x"_s << u"y"_s << QStringList{u"via amneziawg"_s} << D << true << true;
        QTest::newRow("keyword case is not folded")
            << u"x"_s << u"y"_s << QStringList{u"Hysteria2"_s, u"AWG"_s} << D << false << false;
        QTest::newRow("relay is no auto match")
            << u"ru-1__nl-hy2"_s << u"nl-hy2"_s << QStringList() << ConnectionKind::relay << true << false;
    }
    void protocolAndEntryMatch()
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
    }
};

QTEST_GUILESS_MAIN(CatalogRecordsTest)
#include "tst_catalog_records.moc"
