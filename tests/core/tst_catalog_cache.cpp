#include "core/CatalogCache.h"

#include <QTest>

#include <limits>

using namespace kovra;

namespace {

// A catalogue record with the kinds of values the real ones carry.
struct Item {
    QString id;
    double weight = 0;
    std::optional<QDateTime> seen;

    static Item decode(const JsonDecodingContainer &c)
    {
        return {c.decode<QString>("id"), c.decode<double>("weight"), c.decodeIfPresent<QDateTime>("seen")};
    }
    void encode(JsonEncodingContainer &c) const
    {
        c.encode("id", id);
        c.encode("weight", weight);
        c.encodeIfPresent("seen", seen);
    }
    bool operator==(const Item &other) const = default;
};

using Items = QList<Item>;

const QString kKey = QStringLiteral("regionCatalogJSON");
const QString kComponent = QStringLiteral("CatalogCacheTest");

Items builtIn()
{
    return {{QStringLiteral("built-in"), 1, std::nullopt}};
}

QDateTime since2001(qint64 seconds)
{
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addSecs(seconds);
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
            << QVariant(QByteArray(R"([{"id":"a","weight":1},{"id":"b","weight":"heavy"}])"));
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

    // The stored form is the default JSON one: field names as keys, dates as seconds
    // since 2001 (what earlier runs wrote and the tunnel provider's side reads).
    void persistedListLoadsBackEqual()
    {
        Fixture f;
        const Items list{{"de-1", 0.25, since2001(757382400)}, {"nl-2", 7, std::nullopt}};
        const QStringList keysBefore = f.defaults->keys();
        f.cache.persist(list);

        QCOMPARE(f.defaults->keys(), keysBefore + QStringList{kKey});
        const JsonValue stored = JsonValue::parse(f.defaults->data(kKey).value_or(QByteArray()));
        QCOMPARE(stored.type(), JsonValue::Type::Array);
        QCOMPARE(stored.array().size(), size_t(2));
        const JsonValue *seen = stored.array().front().find(u"seen");
        QVERIFY(seen && seen->type() == JsonValue::Type::Number);
        QCOMPARE(seen->numberLiteral().toDouble(), 757382400.0);
        QVERIFY(f.cache.load() == list);
    }

    void encodingFailureKeepsStoredList()
    {
        const Items unencodable{{"ok", 1, std::nullopt}, {"nan", std::numeric_limits<double>::quiet_NaN(), std::nullopt}};
        QString reason;
        try {
            JsonEncoder().encode(unencodable);
            QFAIL("the list was expected to fail encoding");
        } catch (...) {
            reason = descriptionOf(std::current_exception());
        }
        Fixture f;
        const Items old{{"old", 3, since2001(60)}};
        f.cache.persist(old);
        const QVariant oldBytes = f.defaults->object(kKey);
        LogCapture capture;

        f.cache.persist(unencodable);

        QCOMPARE(f.defaults->object(kKey), oldBytes);
        QVERIFY(f.cache.load() == old);
        const QList<LogLine> lines = capture.lines(kComponent);
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first().level, LogLevel::Error);
        QCOMPARE(lines.first().text, QStringLiteral("persist failed: ") + reason);
    }
};

QTEST_GUILESS_MAIN(CatalogCacheTest)
#include "tst_catalog_cache.moc"
