#include "core/CatalogCache.h"

#include <QTest>

using namespace kovra;

namespace {

// A catalogue record with the kinds of values the real ones carry.
struct Item {
    QString id;
    std::optional<QDateTime> seen;

    static Item decode(const JsonDecodingContainer &c) { return {c.decode<QString>("id"), c.decodeIfPresent<QDateTime>("seen")}; }
    void encode(JsonEncodingContainer &c) const
    {
        c.encode("id", id);
        c.encodeIfPresent("seen", seen);
    }
    bool operator==(const Item &other) const = default;
};

using Items = QList<Item>;

const QString kKey = QStringLiteral("regionCatalogJSON");
const QString kComponent = QStringLiteral("CatalogCacheTest");

Items builtIn()
{
    return {{QStringLiteral("built-in"), std::nullopt}};
}

struct Fixture {
    std::shared_ptr<Defaults> defaults = Defaults::inMemory();
    CatalogCache<Item> cache = CatalogCache<Item>::inAppGroup(AppGroupStore(defaults, nullptr), kKey, builtIn,
                                                               Logger(kComponent));
};

} // namespace

class CatalogCacheTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void unusableStoreGivesFallbackSilently_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("nothing stored") << QVariant();
        QTest::newRow("empty array") << QVariant(QByteArray("[]"));
        QTest::newRow("not JSON") << QVariant(QByteArray("[{\"id\":"));
        QTest::newRow("one bad record among good ones")
            << QVariant(QByteArray(R"([{"id":"a","seen":1},{"id":"b","seen":"yesterday"}])"));
    }
    void unusableStoreGivesFallbackSilently()
    {
        QFETCH(QVariant, stored);
        Fixture f;
        f.defaults->setObject(kKey, stored);
        LogCapture capture;

        QVERIFY(f.cache.load() == builtIn());
        QCOMPARE(capture.texts(kComponent), QStringList());
    }

    // The stored form is the default JSON one (dates as seconds since 2001), which earlier
    // runs wrote and the tunnel provider's side reads. A list that cannot be encoded
    // leaves the stored one in place.
    void persistKeepsTheLastGoodList()
    {
        Fixture f;
        const Items list{{"de-1", QDateTime(QDate(2001, 1, 1), QTime(0, 1, 0, 500), Qt::UTC)}, {"nl-2", std::nullopt}};
        f.cache.persist(list);
        QCOMPARE(f.defaults->data(kKey), QByteArray(R"([{"id":"de-1","seen":60.5},{"id":"nl-2"}])"));
        QVERIFY(f.cache.load() == list);

        LogCapture capture;
        f.cache.persist({{"ok", std::nullopt}, {"bad", QDateTime()}});
        QVERIFY(f.cache.load() == list);
        const QList<LogLine> lines = capture.lines(kComponent);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first().level, LogLevel::Error);
        QVERIFY2(lines.first().text.startsWith("persist failed: "), qPrintable(lines.first().text));
    }
};

QTEST_GUILESS_MAIN(CatalogCacheTest)
#include "tst_catalog_cache.moc"
