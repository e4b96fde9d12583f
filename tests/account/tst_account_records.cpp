#include "account/MeOut.h"
#include "account/Tariff.h"
#include "account/SubscriptionStore.h"

#include <QTest>

#include "support/ManualClock.h"

using namespace kovra;
using namespace kovra::test;
using namespace Qt::StringLiterals;

namespace {
QDateTime utc(int h, int m, int s, int ms = 0)
{
    return QDateTime(QDate(2024, 5, 1), QTime(h, m, s, ms), Qt::UTC);
}
} // namespace

class AccountRecordsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void isActive_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("url");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<qint64>("used");
        QTest::addColumn<QVariant>("expireIn"); // seconds from now; null: no expiry
        QTest::addColumn<int>("nowMs");         // milliseconds past the whole second
        QTest::addColumn<bool>("active");
        const QVariant none;
        const QString url = u"https://sub.example/abc"_s;
        QTest::newRow("active, unlimited") << u"active"_s << url << 0LL << 999LL << none << 0 << true;
        QTest::newRow("expiry is now") << u"active"_s << url << 0LL << 0LL << QVariant(0) << 0 << false;
        QTest::newRow("expiry a second ahead") << u"active"_s << url << 0LL << 0LL << QVariant(1) << 0 << true;
        QTest::newRow("expiry half a second ahead") << u"active"_s << url << 0LL << 0LL << QVariant(1) << 500 << true;
        QTest::newRow("expiry passed") << u"active"_s << url << 0LL << 0LL << QVariant(-1) << 0 << false;
        QTest::newRow("status in other case") << u"Active"_s << url << 0LL << 0LL << none << 0 << false;
        QTest::newRow("negative limit is no limit") << u"active"_s << url << -5LL << 10LL << none << 0 << true;
        QTest::newRow("traffic used up") << u"active"_s << url << 100LL << 100LL << none << 0 << false;
        QTest::newRow("traffic left") << u"active"_s << url << 100LL << 99LL << none << 0 << true;
        QTest::newRow("no URL") << u"active"_s << QString() << 0LL << 0LL << none << 0 << false;
        QTest::newRow("expiry at the end of time") << u"active"_s << url << 0LL << 0LL
                                                   << QVariant(std::numeric_limits<qint64>::max() / 2) << 0 << true;
    }
    void isActive()
    {
        QFETCH(QString, status);
        QFETCH(QString, url);
        QFETCH(qint64, limit);
        QFETCH(qint64, used);
        QFETCH(QVariant, expireIn);
        QFETCH(int, nowMs);
        QFETCH(bool, active);
        const QDateTime now = QDateTime(QDate(2025, 3, 5), QTime(12, 0), Qt::UTC);
        SubscriptionOut s{url, status, limit, used, std::nullopt, std::nullopt};
        if (!expireIn.isNull())
            s.expireUnix = now.toSecsSinceEpoch() + expireIn.toLongLong();
        QCOMPARE(s.isActive(now.addMSecs(nowMs)), active);
    }

    void meRecord_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QDateTime>("createdAt"); // invalid: none
        QTest::addColumn<int>("offset");          // of createdAt, in seconds
        QTest::addColumn<bool>("hasGoogle");
        const auto row = [](const char *name, const QByteArray &createdAt, const QDateTime &expected, int offset = 0) {
            QTest::newRow(name) << QByteArray(R"({"has_telegram":true,"has_apple":false,"created_at":)" + createdAt + "}")
                                << true << expected << offset << false;
        };
        row("Z", R"("2024-05-01T12:30:00Z")", utc(12, 30, 0));
        row("fraction and offset", R"("2024-05-01T12:30:00.250+03:00")", utc(9, 30, 0, 250), 10800);
        row("microseconds, compact offset", R"("2024-05-01T12:30:00.123456-0130")", utc(14, 0, 0, 123), -5400);
        row("space, no zone", R"("2024-05-01 12:30:00")", utc(12, 30, 0));
        row("space, fraction, no zone", R"("2024-05-01 12:30:00.5")", utc(12, 30, 0, 500));
        row("date only", R"("2024-05-01")", {});
        row("trailing text", R"("2024-05-01T12:30:00+03:00x")", {});
        row("malformed zone", R"("2024-05-01T12:30:00+3:00")", {});
        row("no such day", R"("2024-02-30T12:30:00Z")", {});
        row("a number", "1714566600", {});
        row("empty", R"("")", {});
        row("null", "null", {});
        QTest::newRow("all fields") << QByteArray(R"({"telegram_id":42,"marzban_username":"u42","has_telegram":true,)"
                                                  R"("has_apple":true,"apple_email":"a@x","has_google":true,"google_email":"g@x"})")
                                    << true << QDateTime() << 0 << true;
        QTest::newRow("no has_apple") << QByteArray(R"({"has_telegram":true})") << false << QDateTime() << 0 << false;
        QTest::newRow("has_telegram not a Boolean") << QByteArray(R"({"has_telegram":"yes","has_apple":true})") << false
                                                    << QDateTime() << 0 << false;
    }
    void meRecord()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(QDateTime, createdAt);
        QFETCH(int, offset);
        QFETCH(bool, hasGoogle);
        // As the API client decodes replies.
        const JsonDecoder decoder(KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601);
        std::optional<MeOut> me;
        try {
            me = decoder.decode<MeOut>(json);
        } catch (const JsonDecodingError &) {
        }
        QCOMPARE(me.has_value(), decodes);
        if (!me)
            return;
        QCOMPARE(me->createdAt.has_value(), createdAt.isValid());
        if (me->createdAt) {
            QCOMPARE(*me->createdAt, createdAt);
            QCOMPARE(me->createdAt->offsetFromUtc(), offset);
        }
        QCOMPARE(me->hasGoogle, hasGoogle);
    }

    // Against a one-month plan of 300 roubles unless the row says otherwise.
    void savingsPercent_data()
    {
        QTest::addColumn<qint64>("months");
        QTest::addColumn<qint64>("rub");
        QTest::addColumn<QVariant>("base"); // the base's {months, rub}; null: no base
        QTest::addColumn<QVariant>("percent"); // null: none
        const QVariant monthly = QVariantList{1, 300};
        const QVariant none;
        QTest::newRow("3 months, 10 %") << 3LL << 810LL << monthly << QVariant(10);
        QTest::newRow("12 months, 25 %") << 12LL << 2700LL << monthly << QVariant(25);
        QTest::newRow("0.11 % rounds to nothing") << 3LL << 899LL << monthly << none;
        QTest::newRow("a half rounds up") << 2LL << 597LL << monthly << QVariant(1);
        QTest::newRow("2.5 % rounds away from zero") << 2LL << 585LL << monthly << QVariant(3);
        QTest::newRow("same monthly price") << 3LL << 900LL << monthly << none;
        QTest::newRow("dearer per month") << 3LL << 960LL << monthly << none;
        QTest::newRow("the one-month plan itself") << 1LL << 250LL << monthly << none;
        QTest::newRow("no base") << 3LL << 810LL << none << none;
        QTest::newRow("base is no one-month plan") << 6LL << 810LL << QVariant(QVariantList{3, 900}) << none;
        QTest::newRow("free base") << 3LL << 810LL << QVariant(QVariantList{1, 0}) << none;
        QTest::newRow("0 months is not divided") << 0LL << 150LL << monthly << QVariant(50);
        QTest::newRow("a price below any int") << 3LL << std::numeric_limits<qint64>::min() << monthly << none;
    }
    void savingsPercent()
    {
        QFETCH(qint64, months);
        QFETCH(qint64, rub);
        QFETCH(QVariant, base);
        QFETCH(QVariant, percent);
        std::optional<Tariff> baseTariff;
        if (!base.isNull())
            baseTariff = Tariff{base.toList().at(0).toLongLong(), base.toList().at(1).toLongLong(), 0, 0, 0};
        const std::optional<int> saving = Tariff{months, rub, 0, 0, 0}.savingsPercent(baseTariff);
        QCOMPARE(saving.has_value(), !percent.isNull());
        if (saving)
            QCOMPARE(*saving, percent.toInt());
    }

    // The cached copy stands in at start while it is 0 to 24 hours old, both ends
    // included; any other copy is ignored but left in place.
    void theCachedSubscription_data()
    {
        QTest::addColumn<QVariant>("ageMs"); // null: undecodable bytes
        QTest::addColumn<bool>("used");
        QTest::newRow("just saved") << QVariant(0) << true;
        QTest::newRow("exactly a day") << QVariant(86'400'000) << true;
        QTest::newRow("a day and a millisecond") << QVariant(86'400'001) << false;
        QTest::newRow("a second in the future") << QVariant(-1000) << false;
        QTest::newRow("undecodable") << QVariant() << false;
    }
    void theCachedSubscription()
    {
        QFETCH(QVariant, ageMs);
        QFETCH(bool, used);
        auto clock = std::make_shared<ManualClock>();
        // The stored form: field names, the date in seconds since 2001.
        const double fetchedAt =
            double(clock->now().addMSecs(-ageMs.toLongLong()).toMSecsSinceEpoch()) / 1000.0 - 978307200.0;
        const QByteArray bytes =
            ageMs.isNull() ? QByteArray(R"({"fetchedAt":"yesterday"})")
                           : uR"({"fetchedAt":%1,"subscription":{"subscriptionUrl":"https://sub.example/abc",)"
                             uR"("status":"active","dataLimitBytes":0,"usedBytes":5,"expireUnix":1741262400}})"_s
                                 .arg(fetchedAt, 0, 'f', 3)
                                 .toUtf8();
        auto defaults = Defaults::inMemory();
        defaults->set(AppGroupKey::cachedSubscription, bytes);

        SubscriptionStore store(nullptr, AppGroupStore(defaults, nullptr), nullptr, {clock});
        QCOMPARE(store.hasLatest(), used);
        if (used)
            QVERIFY(*store.latest()
                    == (SubscriptionOut{u"https://sub.example/abc"_s, u"active"_s, 0, 5, 1741262400, std::nullopt}));
        QCOMPARE(defaults->data(AppGroupKey::cachedSubscription), std::optional(bytes));
    }
};

QTEST_GUILESS_MAIN(AccountRecordsTest)
#include "tst_account_records.moc"
