#include "core/AppGroupStore.h"
#include "core/TunnelStopReason.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>
#include <QtConcurrent>

#include "support/TestHome.h"

using namespace kovra;
using Reason = TunnelStopReason;
using OptionalReason = std::optional<TunnelStopReason>;
Q_DECLARE_METATYPE(kovra::TunnelStopReason)
Q_DECLARE_METATYPE(OptionalReason)
Q_DECLARE_METATYPE(JsonDecodingError::Kind)

namespace {
namespace K = AppGroupKey;

// What the tunnel provider expects, in order; the last two survive sign-out.
const QStringList kCatalogue{
    "subscriptionURL", "kovra.cached_subscription", "regionCatalogJSON", "selectedRegionID",
    "selectedRegionKeywords", "entryCatalogJSON", "connectionsCatalogJSON", "kovra.connection_state",
    "kovra.tunnel_state", "kovra.throughput_sample", "kovra.background_reliability_armed",
    "kovra.reliability_app_heartbeat", "kovra.background_reliability_auto_managed",
    "kovra.background_reliability_history", "kovra.pending_vpn_command", "kovra.preferred_entry",
    "kovra.active_base_url", "kovra.bypass_lan", "kovra.bypass_russia", "kovra.blocked_only",
    "kovra.disconnect_on_lock", "kovra.wants_connected", "kovra.on_demand_recovery_enabled",
    "kovra.last_stop_reason", "kovra.auto_disconnect_minutes", "kovra.subscription_reminders_enabled",
    "kovra.has_requested_subscription_reminder_permission", "kovra.has_sent_low_traffic_reminder",
    "kovra.has_seen_vpn_priming", "lastSubscriptionCheck",
};

QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
}

std::shared_ptr<Defaults> memory(const QVariantMap &values)
{
    auto d = Defaults::inMemory();
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        d->setObject(it.key(), it.value());
    return d;
}

QVariantMap contents(const Defaults &d)
{
    QVariantMap out;
    for (const QString &key : d.keys())
        out.insert(key, d.object(key));
    return out;
}

QString migrationLine(int copied)
{
    return QStringLiteral("legacy macOS App Group migration completed (copied=%1)").arg(copied);
}
} // namespace

class AppGroupStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void catalogueIsSharedContract()
    {
        QCOMPARE(AppGroupStore::catalogueKeys(), kCatalogue);
        QCOMPARE(AppGroupStore::sessionKeys(), kCatalogue.first(28));
    }

    void migration_data()
    {
        QTest::addColumn<QVariantMap>("suite");
        QTest::addColumn<bool>("legacyAvailable");
        QTest::addColumn<QVariantMap>("legacy");
        QTest::addColumn<QVariantMap>("expected");
        QTest::addColumn<QStringList>("log");

        const QVariantMap legacy{{K::subscriptionURL, "https://sub.example/a"}, {K::bypassLAN, false}};
        QTest::newRow("copies into empty suite")
            << QVariantMap{} << true << legacy
            << QVariantMap{{K::subscriptionURL, "https://sub.example/a"}, {K::bypassLAN, false}, {K::migratedLegacyGuard, true}}
            << QStringList{migrationLine(2)};
        QTest::newRow("new suite keeps its values")
            << QVariantMap{{K::subscriptionURL, "https://sub.example/new"}} << true << legacy
            << QVariantMap{{K::subscriptionURL, "https://sub.example/new"}, {K::bypassLAN, false}, {K::migratedLegacyGuard, true}}
            << QStringList{migrationLine(1)};
        QTest::newRow("surviving keys copied, device id and strangers not")
            << QVariantMap{} << true
            << QVariantMap{{K::hasSeenVPNPriming, true}, {K::lastSubscriptionCheck, utc("2024-05-01T12:00:00Z")},
                           {K::deviceID, "OLD-DEVICE"}, {K::migratedLegacyGuard, false}, {"unrelated", 5}}
            << QVariantMap{{K::hasSeenVPNPriming, true}, {K::lastSubscriptionCheck, utc("2024-05-01T12:00:00Z")},
                           {K::migratedLegacyGuard, true}}
            << QStringList{migrationLine(2)};
        const QVariantMap typed{{K::selectedRegionKeywords, QStringList{"de", "fra"}},
                                {K::regionCatalogJSON, QByteArray("[{\"id\":\"de\"}]")},
                                {K::autoDisconnectMinutes, qint64(30)},
                                {K::reliabilityAppHeartbeat, utc("2024-05-01T12:00:00.250Z")}};
        QVariantMap typedAfter = typed;
        typedAfter.insert(K::migratedLegacyGuard, true);
        QTest::newRow("values keep their types") << QVariantMap{} << true << typed << typedAfter << QStringList{migrationLine(4)};
        QVariantMap all, allAfter{{K::migratedLegacyGuard, true}};
        for (const QString &key : kCatalogue) {
            all.insert(key, qint64(key.size()));
            allAfter.insert(key, qint64(key.size()));
        }
        QTest::newRow("every catalogue key") << QVariantMap{} << true << all << allAfter << QStringList{migrationLine(30)};
        QTest::newRow("legacy unavailable")
            << QVariantMap{} << false << QVariantMap{} << QVariantMap{{K::migratedLegacyGuard, true}}
            << QStringList{migrationLine(0)};
        QTest::newRow("guard stored false blocks")
            << QVariantMap{{K::migratedLegacyGuard, false}} << true << legacy
            << QVariantMap{{K::migratedLegacyGuard, false}} << QStringList{};
        QTest::newRow("guard of another type blocks")
            << QVariantMap{{K::migratedLegacyGuard, "no"}} << true << legacy
            << QVariantMap{{K::migratedLegacyGuard, "no"}} << QStringList{};
    }
    void migration()
    {
        QFETCH(QVariantMap, suite);
        QFETCH(bool, legacyAvailable);
        QFETCH(QVariantMap, legacy);
        QFETCH(QVariantMap, expected);
        QFETCH(QStringList, log);

        const auto legacySuite = legacyAvailable ? memory(legacy) : nullptr;
        LogCapture capture;
        AppGroupStore store(memory(suite), legacySuite);
        QCOMPARE(contents(*store.defaults()), expected);
        QCOMPARE(capture.texts("AppGroupStore"), log);
        if (legacySuite)
            QCOMPARE(contents(*legacySuite), legacy);
    }

    void secondOpeningDoesNothing()
    {
        test::TestHome home;
        const auto legacy = Defaults::suite(AppGroupStore::kLegacySuiteName);
        legacy->set(K::subscriptionURL, "https://sub.example/a");
        {
            LogCapture capture;
            AppGroupStore first;
            QCOMPARE(first.defaults()->string(K::subscriptionURL), std::optional<QString>("https://sub.example/a"));
            QCOMPARE(capture.texts("AppGroupStore"), QStringList{migrationLine(1)});
            first.defaults()->remove(K::subscriptionURL);
        }
        legacy->set(K::bypassLAN, false);
        LogCapture capture;
        AppGroupStore second;
        QCOMPARE(second.defaults()->keys(), QStringList{K::migratedLegacyGuard});
        QVERIFY(capture.texts("AppGroupStore").isEmpty());
    }

    void unopenableSuiteFallsBackToStandard()
    {
        test::TestHome home;
        // A folder where the suite's file belongs makes the suite unopenable.
        QVERIFY(QDir().mkpath(home.configHome() + "/kovra/" + AppGroupStore::kSuiteName + ".json"));
        Defaults::suite(AppGroupStore::kLegacySuiteName)->set(K::subscriptionURL, "https://sub.example/a");

        LogCapture capture;
        AppGroupStore store;
        QCOMPARE(store.defaults(), Defaults::standard());
        QCOMPARE(capture.texts("AppGroupStore"), QStringList{"App Group unavailable; falling back to UserDefaults.standard"});
        QCOMPARE(capture.lines("AppGroupStore").first().level, LogLevel::Fault);
        QVERIFY(store.defaults()->keys().isEmpty()); // no migration into the fallback
    }

    void sharedGroupDefaultsIsOneSuiteHandle()
    {
        test::TestHome home;
        LogCapture capture;
        const QList<std::shared_ptr<Defaults>> handles =
            QtConcurrent::blockingMapped(QList<int>{1, 2, 3, 4}, [](int) { return sharedGroupDefaults(); });
        for (const auto &h : handles)
            QCOMPARE(h, Defaults::suite(AppGroupStore::kSuiteName));
        QVERIFY(capture.texts("AppGroupStore").isEmpty());
    }

    void boolValue_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("fallback");
        QTest::addColumn<bool>("expected");
        QTest::newRow("absent, default true") << QVariant() << true << true;
        QTest::newRow("absent, default false") << QVariant() << false << false;
        QTest::newRow("false over default true") << QVariant(false) << true << false;
        QTest::newRow("true over default false") << QVariant(true) << false << true;
        QTest::newRow("string is not a Boolean") << QVariant("true") << false << false;
        QTest::newRow("integer is not a Boolean") << QVariant::fromValue(qint64(0)) << true << true;
    }
    void boolValue()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, fallback);
        QFETCH(bool, expected);
        AppGroupStore store(memory({{K::migratedLegacyGuard, true}, {K::bypassRussia, stored}}), nullptr);
        QCOMPARE(store.boolValue(K::bypassRussia, fallback), expected);
    }

    void signOutKeepsSurvivingKeys()
    {
        AppGroupStore store(memory({{K::migratedLegacyGuard, true}, {K::deviceID, "ID"}}), nullptr);
        for (const QString &key : kCatalogue)
            store.defaults()->set(key, false);
        for (const QString &key : AppGroupStore::sessionKeys())
            store.defaults()->remove(key);
        QCOMPARE(store.defaults()->keys(),
                 (QStringList{K::deviceID, K::hasSeenVPNPriming, K::migratedLegacyGuard, K::lastSubscriptionCheck}));
        QCOMPARE(store.boolValue(K::bypassRussia, true), true);
    }

    void deviceID_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("kept");
        QTest::newRow("absent") << QVariant() << false;
        QTest::newRow("empty") << QVariant("") << false;
        QTest::newRow("not a string") << QVariant::fromValue(qint64(7)) << false;
        QTest::newRow("existing kept as stored") << QVariant("abc-legacy") << true;
    }
    void deviceID()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, kept);
        AppGroupStore store(memory({{K::migratedLegacyGuard, true}, {K::deviceID, stored}}), nullptr);
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
        QTest::newRow("reload") << Reason{0, Reason::Source::reload, utc("2001-01-01T00:00:00Z"), false}
                                << QByteArray(R"({"providerReasonRawValue":0,"source":"reload","recordedAt":0,"isPending":false})");
        QTest::newRow("serviceStop") << Reason{std::nullopt, Reason::Source::serviceStop, utc("2001-01-01T00:00:02Z"), false}
                                     << QByteArray(R"({"source":"serviceStop","recordedAt":2,"isPending":false})");
        QTest::newRow("missingSubscriptionURL")
            << Reason{std::nullopt, Reason::Source::missingSubscriptionURL, utc("2001-01-01T00:00:02Z"), false}
            << QByteArray(R"({"source":"missingSubscriptionURL","recordedAt":2,"isPending":false})");
    }
    void stopReasonEncoding()
    {
        QFETCH(Reason, reason);
        QFETCH(QByteArray, json);
        QCOMPARE(JsonEncoder().encode(reason), json);
        QVERIFY(JsonDecoder().decode<Reason>(json) == reason);
    }

    void stopReasonDecodingFailures_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<JsonDecodingError::Kind>("kind");
        using Kind = JsonDecodingError::Kind;
        QTest::newRow("no recordedAt") << QByteArray(R"({"isPending":true})") << Kind::keyNotFound;
        QTest::newRow("no isPending") << QByteArray(R"({"recordedAt":1})") << Kind::keyNotFound;
        QTest::newRow("null isPending") << QByteArray(R"({"recordedAt":1,"isPending":null})") << Kind::valueNotFound;
        QTest::newRow("unknown source") << QByteArray(R"({"source":"userstop","recordedAt":1,"isPending":true})") << Kind::dataCorrupted;
        QTest::newRow("source not a string") << QByteArray(R"({"source":1,"recordedAt":1,"isPending":true})") << Kind::typeMismatch;
        QTest::newRow("date as text") << QByteArray(R"({"recordedAt":"2024-05-01T12:00:00Z","isPending":true})") << Kind::typeMismatch;
        QTest::newRow("flag as number") << QByteArray(R"({"recordedAt":1,"isPending":1})") << Kind::typeMismatch;
        QTest::newRow("not an object") << QByteArray("[]") << Kind::typeMismatch;
    }
    void stopReasonDecodingFailures()
    {
        QFETCH(QByteArray, json);
        QFETCH(JsonDecodingError::Kind, kind);
        try {
            JsonDecoder().decode<Reason>(json);
            QFAIL("decoded");
        } catch (const JsonDecodingError &e) {
            QCOMPARE(e.kind(), kind);
        }
    }

    void stopReasonDecodingToleratesNullsAndExtraKeys()
    {
        const QByteArray json = R"({"providerReasonRawValue":null,"source":null,"recordedAt":2,"isPending":true,"extra":[1]})";
        QVERIFY(JsonDecoder().decode<Reason>(json) == (Reason{std::nullopt, std::nullopt, utc("2001-01-01T00:00:02Z"), true}));
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
        AppGroupStore store(memory({{K::migratedLegacyGuard, true}, {K::lastStopReason, QByteArray("previous")}}), nullptr);
        LogCapture capture;
        store.setCodable(value, K::lastStopReason);
        QCOMPARE(store.defaults()->object(K::lastStopReason), expected);
        QCOMPARE(capture.texts("AppGroupStore"), log);
    }
};

QTEST_GUILESS_MAIN(AppGroupStoreTest)
#include "tst_app_group_store.moc"
