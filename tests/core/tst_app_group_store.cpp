#include "core/AppGroupStore.h"
#include "core/TunnelStopReason.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include "support/DefaultsContents.h"
#include "support/TestHome.h"

using namespace kovra;
using Reason = TunnelStopReason;

namespace {
namespace K = AppGroupKey;
using test::contents;

QString migrationLine(int copied)
{
    return QStringLiteral("legacy macOS App Group migration completed (copied=%1)").arg(copied);
}

// A migrated store over in-memory defaults holding `values`.
AppGroupStore migrated(QVariantMap values)
{
    values.insert(K::migratedLegacyGuard, true);
    return AppGroupStore(test::inMemory(values), nullptr);
}
} // namespace

class AppGroupStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void migration_data()
    {
        QTest::addColumn<QVariantMap>("suite");
        QTest::addColumn<QVariantMap>("legacy");
        QTest::addColumn<QVariantMap>("expected");
        QTest::addColumn<QStringList>("log");

        const QVariantMap legacy{{K::subscriptionURL, "https://sub.example/a"}, {K::bypassLAN, false}};
        // Values keep their types; what the new suite holds wins; the device id and keys
        // outside the catalogue stay behind.
        const QVariantMap copied{{K::lastSubscriptionCheck, QDateTime::fromSecsSinceEpoch(1714564800, Qt::UTC)},
                                 {K::selectedRegionKeywords, QStringList{"de", "fra"}},
                                 {K::regionCatalogJSON, QByteArray("[{\"id\":\"de\"}]")}};
        QVariantMap withStrangers = copied, copiedAfter = copied;
        withStrangers.insert(QVariantMap{{K::deviceID, "OLD-DEVICE"}, {K::migratedLegacyGuard, false}, {"unrelated", 5},
                                         {K::subscriptionURL, "https://sub.example/a"}});
        copiedAfter.insert(QVariantMap{{K::migratedLegacyGuard, true}, {K::subscriptionURL, "https://sub.example/new"}});
        QTest::newRow("catalogue values copied with their types, others not")
            << QVariantMap{{K::subscriptionURL, "https://sub.example/new"}} << withStrangers << copiedAfter
            << QStringList{migrationLine(3)};
        QTest::newRow("legacy unavailable or empty")
            << QVariantMap{} << QVariantMap{} << QVariantMap{{K::migratedLegacyGuard, true}}
            << QStringList{migrationLine(0)};
        QTest::newRow("guard stored false blocks")
            << QVariantMap{{K::migratedLegacyGuard, false}} << legacy
            << QVariantMap{{K::migratedLegacyGuard, false}} << QStringList{};
    }
    void migration()
    {
        QFETCH(QVariantMap, suite);
        QFETCH(QVariantMap, legacy);

        const auto legacySuite = legacy.isEmpty() ? nullptr : test::inMemory(legacy);
        LogCapture capture;
        AppGroupStore store(test::inMemory(suite), legacySuite);
        QTEST(contents(*store.defaults()), "expected");
        QTEST(capture.texts("AppGroupStore"), "log");
        if (legacySuite)
            QCOMPARE(contents(*legacySuite), legacy);
    }

    // An absent or empty identifier is made anew (upper-case UUID) and kept; an existing
    // one is kept as stored.
    void deviceID()
    {
        for (const QVariant &stored : {QVariant(), QVariant(""), QVariant("abc-legacy")}) {
            AppGroupStore store = migrated({{K::deviceID, stored}});
            const QString id = store.deviceID();
            QVERIFY2(QRegularExpression("^([0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}|abc-legacy)$").match(id).hasMatch(), qPrintable(id));
            QVERIFY(stored.toString().isEmpty() || id == stored.toString());
            QCOMPARE(AppGroupStore(store.defaults(), nullptr).deviceID(), id);
        }
    }

    // What the other side writes may carry nulls for the optionals and keys of later
    // versions; a source we do not know, or a required key missing, is refused.
    void stopReasonDecoding()
    {
        QVERIFY(JsonDecoder().decode<Reason>(R"({"providerReasonRawValue":null,"source":null,"recordedAt":2,"isPending":true,"x":1})")
                == (Reason{std::nullopt, std::nullopt, QDateTime(QDate(2001, 1, 1), QTime(0, 0, 2), Qt::UTC), true}));
        for (const char *json : {R"({"source":"sleep","recordedAt":2,"isPending":true})", R"({"recordedAt":2})"})
            QVERIFY_THROWS_EXCEPTION(JsonDecodingError, JsonDecoder().decode<Reason>(QByteArray(json)));
    }

    // A setting stored with another type than Boolean reads as the reader's default.
    void booleanSettings()
    {
        QCOMPARE(migrated({{K::bypassRussia, false}}).boolValue(K::bypassRussia, true), false);
        for (const QVariant &mistyped : {QVariant::fromValue(qint64(0)), QVariant(QStringLiteral("false"))})
            QCOMPARE(migrated({{K::bypassRussia, mistyped}}).boolValue(K::bypassRussia, true), true);
    }

    // The suite's lock file cannot be created: the standard defaults of the same
    // folder take its place, and no migration runs on them.
    void unavailableSuiteFallsBackToStandardDefaults()
    {
        test::TestHome home(test::TestHome::PathsOnly);
        Defaults::suite(home.paths(), AppGroupStore::kLegacySuiteName)->set(K::subscriptionURL, "https://sub.example/a");
        QVERIFY(QDir().mkpath(home.paths().configFolder() + "/" + AppGroupStore::kSuiteName + ".json.lock"));
        LogCapture capture;
        AppGroupStore store(home.paths());
        QCOMPARE(capture.texts("AppGroupStore"),
                 QStringList{"App Group unavailable; falling back to UserDefaults.standard"});
        QCOMPARE(store.defaults(), Defaults::standard(home.paths()));
        QCOMPARE(openSharedGroupDefaults(home.paths()), store.defaults());
        QVERIFY(store.defaults()->keys().isEmpty());
    }

    // Sign-out takes the session keys; what identifies the installation and the keys
    // kept across sign-out stay, in the file another process reads.
    void removeSessionKeysKeepsTheRest()
    {
        test::TestHome home(test::TestHome::PathsOnly);
        AppGroupStore store(home.paths());
        const QString id = store.deviceID();
        for (const QString &key : AppGroupStore::catalogueKeys())
            store.defaults()->set(key, QStringLiteral("value of ") + key);
        store.removeSessionKeys();
        const QStringList kept{K::deviceID, K::hasSeenVPNPriming, K::migratedLegacyGuard, K::lastSubscriptionCheck};
        QCOMPARE(store.defaults()->keys(), kept);
        QCOMPARE(AppGroupStore(home.paths()).deviceID(), id);
    }

    void unencodableValueKeepsThePreviousOne()
    {
        AppGroupStore store = migrated({{K::lastStopReason, QByteArray("previous")}});
        LogCapture capture;
        store.setCodable(std::optional(Reason{std::nullopt, std::nullopt, QDateTime(), false}), K::lastStopReason);
        QCOMPARE(store.defaults()->data(K::lastStopReason), QByteArray("previous"));
        QCOMPARE(capture.texts("AppGroupStore"),
                 QStringList{"encode failed for key kovra.last_stop_reason — retaining previous value"});
    }
};

QTEST_GUILESS_MAIN(AppGroupStoreTest)
#include "tst_app_group_store.moc"
