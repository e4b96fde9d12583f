#include "account/MeOut.h"
#include "account/SubscriptionStore.h"
#include "account/Tariff.h"
#include "account/TelegramLink.h"

#include <QTest>

#include "support/Await.h"
#include "support/ManualClock.h"
#include "support/RecordingUrlOpener.h"

using namespace kovra;
using namespace kovra::test;
using namespace Qt::StringLiterals;

namespace {
const qint64 kSecond = 1741176000; // 2025-03-05 12:00:00 UTC
}

class AccountRecordsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void isActive_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("url");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<qint64>("used");
        QTest::addColumn<QList<qint64>>("expireUnix"); // empty: no expiry
        QTest::addColumn<int>("nowMs");                // added to the expiry's second
        QTest::addColumn<bool>("active");
        const QString url = u"https://sub.example/abc"_s;
        const QList<qint64> at{kSecond};
        QTest::newRow("unlimited, no expiry") << u"active"_s << url << 0LL << 999LL << QList<qint64>() << 0 << true;
        QTest::newRow("expiry is now") << u"active"_s << url << 0LL << 0LL << at << 0 << false;
        QTest::newRow("expiry half a second ahead, limit below 1")
            << u"active"_s << url << -1LL << 0LL << at << -500 << true;
        QTest::newRow("status in other case") << u"Active"_s << url << 0LL << 0LL << at << -500 << false;
        QTest::newRow("traffic used up") << u"active"_s << url << 100LL << 100LL << at << -500 << false;
        QTest::newRow("no URL") << u"active"_s << QString() << 0LL << 0LL << at << -500 << false;
        QTest::newRow("expiry at the end of time") << u"active"_s << url << 0LL << 0LL
                                                   << QList{std::numeric_limits<qint64>::max()} << 0 << true;
    }
    void isActive()
    {
        QFETCH(QString, status);
        QFETCH(QString, url);
        QFETCH(qint64, limit);
        QFETCH(qint64, used);
        QFETCH(QList<qint64>, expireUnix);
        QFETCH(int, nowMs);
        QFETCH(bool, active);
        const SubscriptionOut s{url, status, limit, used, expireUnix.isEmpty() ? std::nullopt : std::optional(expireUnix[0]),
                                std::nullopt};
        QCOMPARE(s.isActive(QDateTime::fromSecsSinceEpoch(kSecond, Qt::UTC).addMSecs(nowMs)), active);
    }

    void meRecord_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QDateTime>("createdAt"); // invalid: none
        const auto row = [](const char *name, const QByteArray &createdAt, int h, int m = 0, int ms = 0) {
            const QDateTime at = h < 0 ? QDateTime() : QDateTime(QDate(2024, 5, 1), QTime(h, m, 0, ms), Qt::UTC);
            QTest::newRow(name) << QByteArray(R"({"has_telegram":true,"has_apple":false,"created_at":)" + createdAt + "}")
                                << true << at;
        };
        row("fraction and offset", R"("2024-05-01T12:30:00.250+03:00")", 9, 30, 250);
        row("microseconds, compact offset", R"("2024-05-01T12:30:00.123456-0130")", 14, 0, 123);
        row("space, no zone", R"("2024-05-01 12:30:00")", 12, 30);
        row("space, fraction, no zone", R"("2024-05-01 12:30:00.5")", 12, 30, 500);
        row("date only", R"("2024-05-01")", -1);
        row("trailing text", R"("2024-05-01T12:30:00+03:00x")", -1);
        row("a number", "1714566600", -1);
        QTest::newRow("no has_apple") << QByteArray(R"({"has_telegram":true})") << false << QDateTime();
    }
    void meRecord()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(QDateTime, createdAt);
        std::optional<MeOut> me;
        try {
            me = JsonDecoder(KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601).decode<MeOut>(json);
        } catch (const JsonDecodingError &) {
        }
        QCOMPARE(me.has_value(), decodes);
        if (!me)
            return;
        QVERIFY(!me->hasGoogle); // absent reads as false
        QCOMPARE(me->createdAt.value_or(QDateTime()), createdAt);
    }

    // Against a one-month plan of 300 roubles unless the row says otherwise.
    void savingsPercent_data()
    {
        QTest::addColumn<qint64>("months");
        QTest::addColumn<qint64>("rub");
        QTest::addColumn<QList<qint64>>("base"); // months, roubles; empty: no base
        QTest::addColumn<int>("percent");        // 0: none
        const QList<qint64> monthly{1, 300};
        QTest::newRow("3 months, 10 %") << 3LL << 810LL << monthly << 10;
        QTest::newRow("0.11 % rounds to nothing") << 3LL << 899LL << monthly << 0;
        QTest::newRow("a half rounds up") << 2LL << 597LL << monthly << 1;
        QTest::newRow("same monthly price") << 3LL << 900LL << monthly << 0;
        QTest::newRow("the one-month plan itself") << 1LL << 250LL << monthly << 0;
        QTest::newRow("no base") << 3LL << 810LL << QList<qint64>() << 0;
        QTest::newRow("base is no one-month plan") << 6LL << 810LL << QList<qint64>{3, 900} << 0;
        QTest::newRow("free base") << 3LL << 810LL << QList<qint64>{1, 0} << 0;
        QTest::newRow("a price below any int") << 3LL << std::numeric_limits<qint64>::min() << monthly << 0;
    }
    void savingsPercent()
    {
        QFETCH(qint64, months);
        QFETCH(qint64, rub);
        QFETCH(QList<qint64>, base);
        QFETCH(int, percent);
        std::optional<Tariff> baseTariff;
        if (!base.isEmpty())
            baseTariff = Tariff{base[0], base[1], 0, 0, 0};
        const std::optional<int> expected = percent ? std::optional(percent) : std::nullopt;
        QCOMPARE(Tariff({months, rub, 0, 0, 0}).savingsPercent(baseTariff), expected);
    }

    // The cached copy stands in at start while it is 0 to 24 hours old, both ends
    // included; any other copy is ignored but left in place.
    void theCachedSubscription_data()
    {
        QTest::addColumn<qint64>("ageMs"); // -1: undecodable bytes
        QTest::addColumn<bool>("used");
        QTest::newRow("just saved") << 0LL << true;
        QTest::newRow("exactly a day") << 86'400'000LL << true;
        QTest::newRow("a day and a millisecond") << 86'400'001LL << false;
        QTest::newRow("a second in the future") << -1000LL << false;
        QTest::newRow("undecodable") << -1LL << false;
    }
    void theCachedSubscription()
    {
        QFETCH(qint64, ageMs);
        QFETCH(bool, used);
        auto clock = std::make_shared<ManualClock>();
        // The stored form: field names, the date in seconds since 2001.
        const double fetchedAt = double(clock->now().addMSecs(-ageMs).toMSecsSinceEpoch()) / 1000.0 - 978307200.0;
        const QByteArray bytes = ageMs == -1 ? QByteArray(R"({"fetchedAt":"yesterday"})")
                                             : uR"({"fetchedAt":%1,"subscription":{"subscriptionUrl":"u",)"
                                               uR"("status":"active","dataLimitBytes":0,"usedBytes":5,"expireUnix":7}})"_s
                                                   .arg(fetchedAt, 0, 'f', 3)
                                                   .toUtf8();
        auto defaults = Defaults::inMemory();
        defaults->set(AppGroupKey::cachedSubscription, bytes);

        SubscriptionStore store(nullptr, AppGroupStore(defaults, nullptr), nullptr, {clock});
        QCOMPARE(store.latest(), used ? std::optional(SubscriptionOut{u"u"_s, u"active"_s, 0, 5, 7, std::nullopt}) : std::nullopt);
        QCOMPARE(defaults->data(AppGroupKey::cachedSubscription), std::optional(bytes));
    }

    // The deep link first, only for "tg"/"telegram" as written; the web link only for
    // "https" as written, and only when the deep link was not opened.
    void theDeepLinkFirstThenOnlyAnHttpsLink_data()
    {
        QTest::addColumn<QString>("deep");
        QTest::addColumn<QString>("web");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<bool>("opened");
        const QString tg = u"tg://resolve?domain=kovra_bot"_s, web = u"https://t.me/kovra_bot"_s;
        const QString noHandler = u"tg://resolve?domain=nobody"_s; // the opener refuses it
        QTest::newRow("tg opened") << tg << web << QStringList{tg} << true;
        QTest::newRow("no handler: web") << noHandler << web << QStringList{noHandler, web} << true;
        QTest::newRow("upper-case scheme is no deep link") << u"TG://resolve"_s << web << QStringList{web} << true;
        QTest::newRow("unparsable deep link") << u"tg://res olve"_s << web << QStringList{web} << true;
        QTest::newRow("http fallback never opened") << noHandler << u"http://t.me/b"_s << QStringList{noHandler} << false;
        QTest::newRow("upper-case HTTPS never opened") << QString() << u"HTTPS://t.me/b"_s << QStringList() << false;
    }
    void theDeepLinkFirstThenOnlyAnHttpsLink()
    {
        QFETCH(QString, deep);
        QFETCH(QString, web);
        QFETCH(QStringList, asked);
        QFETCH(bool, opened);
        auto opener = std::make_shared<RecordingUrlOpener>(QStringList{u"tg://resolve?domain=nobody"_s});
        QCOMPARE(await(openTelegramLink(opener, deep, web)), opened);
        QCOMPARE(opener->askedTexts(), asked);
    }
};

QTEST_GUILESS_MAIN(AccountRecordsTest)
#include "tst_account_records.moc"
