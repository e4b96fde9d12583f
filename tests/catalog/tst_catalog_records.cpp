#include "catalog/Connection.h"
#include "catalog/Entry.h"
#include "catalog/Region.h"

#include <QTest>

using namespace kovra;
using namespace Qt::StringLiterals;

namespace {

const JsonDecoder kCacheDecoder;

// The record the JSON decodes to in the cache's own encoding, or the head of the
// failure ("decode keyNotFound flag at <root>").
template<class T>
QByteArray decoded(bool fromService, const QByteArray &json)
{
    const JsonDecoder service{KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601};
    try {
        return JsonEncoder().encode((fromService ? service : kCacheDecoder).decode<T>(json));
    } catch (const JsonDecodingError &e) {
        const QString text = e.description();
        return text.left(text.indexOf(u">:") + 1).toUtf8();
    }
}

} // namespace

class CatalogRecordsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Unknown or differently written values fall back; a missing or mistyped key fails.
    void decoding_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("fromService");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QByteArray>("expected"); // the record as the cache writes it, or the failure
        const auto encoded = [](const auto &record) { return JsonEncoder().encode(record); };
        const QByteArray region = R"({"id":"nl","name":"Амстердам","flag":"🇳🇱")";
        QTest::newRow("region from the service, keywords lower-cased")
            << u"region"_s << true
            << region + R"(,"use_case_hint":"Европа","is_primary":true,"is_auto":false,)"
                        R"("match_keywords":["🇳🇱 Амстердам","NetherLands"],"status":"degraded",)"
                        R"("provider":"Google","is_ephemeral":true})"
            << encoded(Region{u"nl"_s, u"Амстердам"_s, u"🇳🇱"_s, u"Европа"_s, true, false,
                              {u"🇳🇱 амстердам"_s, u"netherlands"_s}, RegionStatus::degraded, RegionProvider::gcp(), true});
        QTest::newRow("region without flag") << u"region"_s << false << QByteArray(R"({"id":"nl","name":"x"})")
                                             << QByteArray("decode keyNotFound flag at <root>");
        const QByteArray entry = R"({"id":"ru-1","name":"РФ-1")";
        QTest::newRow("entry nulls take the defaults")
            << u"entry"_s << false << entry + R"(,"flag":null,"kind":null,"isDefault":null,"note":null})"
            << encoded(Entry{u"ru-1"_s, u"РФ-1"_s, u"🇷🇺"_s, EntryKind::relay, false, std::nullopt});
        QTest::newRow("entry from the service, empty flag stays empty")
            << u"entry"_s << true << entry + R"(,"flag":"","kind":"direct","is_default":true,"note":"n"})"
            << encoded(Entry{u"ru-1"_s, u"РФ-1"_s, u""_s, EntryKind::direct, true, u"n"_s});
        const QByteArray route = R"({"id":"r","label":"R")";
        QTest::newRow("route from the service")
            << u"route"_s << true
            << route + R"(,"flags":"🇷🇺 → 🇳🇱","entry":"ru-1","region_id":"nl","match_keywords":["Amsterdam"],)"
                       R"("kind":"direct","is_default":true,"status":"online"})"
            << encoded(Connection{u"r"_s, u"R"_s, u"🇷🇺 → 🇳🇱"_s, u"ru-1"_s, u"nl"_s, {u"amsterdam"_s},
                                  ConnectionKind::direct, true, RegionStatus::online});
        QTest::newRow("route of unknown kind and status")
            << u"route"_s << false << route + R"(,"kind":"Direct","status":"asleep"})"
            << encoded(Connection{u"r"_s, u"R"_s, u""_s, u"auto"_s, u"auto"_s, {}, ConnectionKind::relay, false,
                                  RegionStatus::unknown});
    }
    void decoding()
    {
        QFETCH(QString, type);
        QFETCH(bool, fromService);
        QFETCH(QByteArray, json);
        const QByteArray result = type == u"region" ? decoded<Region>(fromService, json)
                                  : type == u"entry" ? decoded<Entry>(fromService, json)
                                                     : decoded<Connection>(fromService, json);
        QTEST(result, "expected");
    }

    // The built-in lists survive the cache's encoding; each built-in route is named
    // after its entry and region and carries the region's keywords.
    void builtInListsAndTheCache()
    {
        const QList<Region> regions = Region::fallback() << Region{u"x"_s, u"X"_s, u""_s};
        QCOMPARE(kCacheDecoder.decode<QList<Region>>(JsonEncoder().encode(regions)), regions);
        const QList<Entry> entries = Entry::fallback() << Entry{u"e"_s, u"E"_s, u""_s, EntryKind::direct, false, {}};
        QCOMPARE(kCacheDecoder.decode<QList<Entry>>(JsonEncoder().encode(entries)), entries);
        const QList<Connection> routes = Connection::fallback();
        QCOMPARE(kCacheDecoder.decode<QList<Connection>>(JsonEncoder().encode(routes)), routes);
        for (const Connection &c : routes) {
            QCOMPARE(c.id, Connection::compose(c.entry, c.regionID));
            const auto region = std::find_if(regions.begin(), regions.end(), [&c](const Region &r) { return r.id == c.regionID; });
            QVERIFY(region != regions.end() && c.matchKeywords == region->matchKeywords);
        }
    }
};

QTEST_GUILESS_MAIN(CatalogRecordsTest)
#include "tst_catalog_records.moc"
