#include "core/AppGroupStore.h"
#include "core/TunnelStopReason.h"
#include "platform/Json.h"
#include "platform/Log.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

#include "support/DefaultsContents.h"
#include "support/TestHome.h"

using namespace kovra;
using Reason = TunnelStopReason;
using OptionalReason = std::optional<TunnelStopReason>;
Q_DECLARE_METATYPE(kovra::TunnelStopReason)
Q_DECLARE_METATYPE(OptionalReason)

namespace {
namespace K = AppGroupKey;
using test::contents;

QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
}

QString migrationLine(int copied)
{
    return QStringLiteral("legacy macOS App Group migration completed (copied=%1)").arg(copied);
}
} // namespace

class AppGroupStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void migration_data()
    {
        QTest::addColumn<QVariantMap>("suite");
        QTest::addColumn<bool>("legacyAvailable");
        QTest::addColumn<QVariantMap>("legacy");
        QTest::addColumn<QVariantMap>("expected");
        QTest::addColumn<QStringList>("log");

        const QVariantMap legacy{{K::subscriptionURL, "https://sub.example/a"}, {K::bypassLAN, false}};
        QTest::newRow("new suite keeps its values")
            << QVariantMap{{K::subscriptionURL, "https://sub.example/new"}} << true << legacy
            << QVariantMap{{K::subscriptionURL, "https://sub.example/new"}, {K::bypassLAN, false}, {K::migratedLegacyGuard, true}}
            << QStringList{migrationLine(1)};
        // Values keep their types; the device id and keys outside the catalogue stay behind.
        const QVariantMap copied{{K::hasSeenVPNPriming, true}, {K::lastSubscriptionCheck, utc("2024-05-01T12:00:00.250Z")},
                                 {K::selectedRegionKeywords, QStringList{"de", "fra"}},
                                 {K::regionCatalogJSON, QByteArray("[{\"id\":\"de\"}]")}};
        QVariantMap withStrangers = copied, copiedAfter = copied;
        withStrangers.insert(QVariantMap{{K::deviceID, "OLD-DEVICE"}, {K::migratedLegacyGuard, false}, {"unrelated", 5}});
        copiedAfter.insert(K::migratedLegacyGuard, true);
        QTest::newRow("catalogue values copied with their types, others not")
            << QVariantMap{} << true << withStrangers << copiedAfter << QStringList{migrationLine(4)};
        QTest::newRow("legacy unavailable")
            << QVariantMap{} << false << QVariantMap{} << QVariantMap{{K::migratedLegacyGuard, true}}
            << QStringList{migrationLine(0)};
        QTest::newRow("guard stored false blocks")
            << QVariantMap{{K::migratedLegacyGuard, false}} << true << legacy
            << QVariantMap{{K::migratedLegacyGuard, false}} << QStringList{};
    }
    void migration()
    {
        QFETCH(QVariantMap, suite);
        QFETCH(bool, legacyAvailable);
        QFETCH(QVariantMap, legacy);
        QFETCH(QVariantMap, expected);
        QFETCH(QStringList, log);

        const auto legacySuite = legacyAvailable ? test::inMemory(legacy) : nullptr;
        LogCapture capture;
        AppGroupStore store(test::inMemory(suite), legacySuite);
        QCOMPARE(contents(*store.defaults()), expected);
        QCOMPARE(capture.texts("AppGroupStore"), log);
        if (legacySuite)
            QCOMPARE(contents(*legacySuite), legacy);
    }

    void secondOpeningDoesNothing()
    {
        test::TestHome home(test::TestHome::PathsOnly);
        const auto legacy = Defaults::suite(home.paths(), AppGroupStore::kLegacySuiteName);
        legacy->set(K::subscriptionURL, "https://sub.example/a");
        {
            LogCapture capture;
            AppGroupStore first(home.paths());
            QCOMPARE(first.defaults()->string(K::subscriptionURL), std::optional<QString>("https://sub.example/a"));
            QCOMPARE(capture.texts("AppGroupStore"), QStringList{migrationLine(1)});
            first.defaults()->remove(K::subscriptionURL);
        }
        legacy->set(K::bypassLAN, false);
        LogCapture capture;
        AppGroupStore second(home.paths());
        QCOMPARE(second.defaults()->keys(), QStringList{K::migratedLegacyGuard});
        QVERIFY(capture.texts("AppGroupStore").isEmpty());
    }

    void deviceID_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("kept");
        QTest::newRow("absent") << QVariant() << false;
        QTest::newRow("empty") << QVariant("") << false;
        QTest::newRow("existing kept as stored") << QVariant("abc-legacy") << true;
    }
    void deviceID()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, kept);
        AppGroupStore store(test::inMemory({{K::migratedLegacyGuard, true}, {K::deviceID, stored}}), nullptr);
        const QString id = store.deviceID();
        if (kept) {
            QCOMPARE(id, stored.toString());
        } else {
            QVERIFY2(QRegularExpression("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$").match(id).hasMatch(), qPrintable(id));
            QCOMPARE(store.defaults()->string(K::deviceID), std::optional<QString>(id));
        }
        QCOMPARE(AppGroupStore(store.defaults(), nullptr).deviceID(), id);
    }

    void stopReasonEncoding_data()
    {
        QTest::addColumn<Reason>("reason");
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("every field")
            << Reason{3, Reason::Source::userStop, utc("2001-01-01T00:00:01.500Z"), false}
            << QByteArray(R"({"providerReasonRawValue":3,"source":"userStop","recordedAt":1.5,"isPending":false})");
        QTest::newRow("optionals absent")
            << Reason{std::nullopt, std::nullopt, utc("2024-05-01T12:00:00Z"), true}
            << QByteArray(R"({"recordedAt":736257600,"isPending":true})");
        QTest::newRow("milliseconds, before the reference date")
            << Reason{std::nullopt, Reason::Source::autoDisconnectTimer, utc("2000-12-31T23:59:59.750Z"), true}
            << QByteArray(R"({"source":"autoDisconnectTimer","recordedAt":-0.25,"isPending":true})");
    }
    void stopReasonEncoding()
    {
        QFETCH(Reason, reason);
        QFETCH(QByteArray, json);
        QCOMPARE(JsonEncoder().encode(reason), json);
        QVERIFY(JsonDecoder().decode<Reason>(json) == reason);
    }

    // What the other side writes may carry nulls for the optionals and keys of later versions.
    void stopReasonDecodingToleratesNullsAndExtraKeys()
    {
        QVERIFY(JsonDecoder().decode<Reason>(R"({"providerReasonRawValue":null,"source":null,"recordedAt":2,"isPending":true,"x":1})")
                == (Reason{std::nullopt, std::nullopt, utc("2001-01-01T00:00:02Z"), true}));
    }

    void stopReasonDecodingFailures_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::newRow("unknown source") << QByteArray(R"({"source":"sleep","recordedAt":2,"isPending":true})");
        QTest::newRow("no recordedAt") << QByteArray(R"({"isPending":true})");
        QTest::newRow("no isPending") << QByteArray(R"({"recordedAt":2})");
    }
    void stopReasonDecodingFailures()
    {
        QFETCH(QByteArray, json);
        QVERIFY_THROWS_EXCEPTION(JsonDecodingError, JsonDecoder().decode<Reason>(json));
    }

    // Settings are read with the default the reader passes: absent, or stored with
    // another type, gives the default.
    void booleanSettings_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("fallback");
        QTest::addColumn<bool>("expected");
        QTest::newRow("absent") << QVariant() << true << true;
        QTest::newRow("stored false") << QVariant(false) << true << false;
        QTest::newRow("integer is not a Boolean") << QVariant::fromValue(qint64(1)) << false << false;
        QTest::newRow("text is not a Boolean") << QVariant(QStringLiteral("true")) << false << false;
    }
    void booleanSettings()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, fallback);
        QFETCH(bool, expected);
        AppGroupStore store(test::inMemory({{K::migratedLegacyGuard, true}, {K::bypassRussia, stored}}), nullptr);
        QCOMPARE(store.boolValue(K::bypassRussia, fallback), expected);
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
        QVERIFY(!store.defaults()->contains(K::subscriptionURL));
        QVERIFY(!store.defaults()->contains(K::migratedLegacyGuard));

        const auto standard = test::inMemory();
        AppGroupStore given(nullptr, test::inMemory({{K::subscriptionURL, "https://sub.example/a"}}), standard);
        QCOMPARE(given.defaults(), standard);
        QVERIFY(standard->keys().isEmpty());
    }

    // Sign-out takes the 28 session keys; what identifies the installation and the
    // keys kept across sign-out stay.
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
        QCOMPARE(store.boolValue(K::bypassRussia, true), true);
    }

    void setCodable_data()
    {
        QTest::addColumn<OptionalReason>("value");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<QStringList>("log");
        const Reason valid{std::nullopt, Reason::Source::userStop, utc("2001-01-01T00:00:02Z"), true};
        QTest::newRow("stores the JSON bytes")
            << OptionalReason(valid) << QVariant(QByteArray(R"({"source":"userStop","recordedAt":2,"isPending":true})"))
            << QStringList{};
        QTest::newRow("absent removes") << OptionalReason() << QVariant() << QStringList{};
        QTest::newRow("unencodable keeps the previous value")
            << OptionalReason(Reason{std::nullopt, std::nullopt, QDateTime(), false}) << QVariant(QByteArray("previous"))
            << QStringList{"encode failed for key kovra.last_stop_reason — retaining previous value"};
    }
    void setCodable()
    {
        QFETCH(OptionalReason, value);
        QFETCH(QVariant, expected);
        QFETCH(QStringList, log);
        AppGroupStore store(test::inMemory({{K::migratedLegacyGuard, true}, {K::lastStopReason, QByteArray("previous")}}), nullptr);
        LogCapture capture;
        store.setCodable(value, K::lastStopReason);
        QCOMPARE(store.defaults()->object(K::lastStopReason), expected);
        QCOMPARE(capture.texts("AppGroupStore"), log);
    }
};

QTEST_GUILESS_MAIN(AppGroupStoreTest)
#include "tst_app_group_store.moc"
