#include "account/MeOut.h"
#include "account/PaymentWaitingState.h"
#include "account/SubscriptionStore.h"
#include "account/Tariff.h"
#include "account/TelegramLink.h"

#include <QTest>

#include "support/Await.h"
#include "support/ManualClock.h"
#include "support/RecordingUrlOpener.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

using Phase = PaymentWaitingState::Phase;
using Sub = std::optional<kovra::SubscriptionOut>;
Q_DECLARE_METATYPE(kovra::SubscriptionOut)
Q_DECLARE_METATYPE(Sub)

namespace {

const QDateTime kNow(QDate(2025, 3, 5), QTime(12, 0), Qt::UTC);
const qint64 kSecond = kNow.toSecsSinceEpoch();
const qint64 kDay = 86400;

// An active subscription expiring in `days` (none: no expiry) with a limit in GB.
Sub active(std::optional<qint64> days = 30, qint64 limitGB = 0, QString status = u"active"_s)
{
    std::optional<qint64> expire;
    if (days)
        expire = kNow.toSecsSinceEpoch() + *days * kDay;
    return SubscriptionOut{u"https://sub.example/abc"_s, status, limitGB * 1'000'000'000, 0, expire, std::nullopt};
}

// A waiting state over a subscription the test sets, counting refreshes; a refresh
// waits for `gate` while one is set.
struct Harness {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>(kNow);
    Sub current;
    int refreshes = 0;
    int refreshesDone = 0;
    std::optional<OneShot<void>> gate;
    PaymentWaitingState state;

    static QCoro::Task<void> refresh(Harness *h)
    {
        ++h->refreshes;
        if (h->gate) {
            const OneShot<void> gate = *h->gate;
            co_await gate.waitForEnd();
        }
        ++h->refreshesDone;
    }

    explicit Harness(int maxPolls) : state([this] { return refresh(this); }, [this] { return current; }, 3000ms, maxPolls, clock) {}
};

} // namespace

// The account's records and the rules on them, and the wait for a payment to show.
class AccountRecordsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // At the expiry's second, `nowMs` later.
    void isActive_data()
    {
        QTest::addColumn<SubscriptionOut>("subscription");
        QTest::addColumn<int>("nowMs");
        QTest::addColumn<bool>("active");
        const auto sub = [](qint64 limit, qint64 used, std::optional<qint64> expiry, QString status = u"active"_s,
                            QString url = u"https://sub.example/abc"_s) {
            return SubscriptionOut{url, status, limit, used, expiry, std::nullopt};
        };
        QTest::newRow("unlimited, no expiry") << sub(0, 999, std::nullopt) << 0 << true;
        QTest::newRow("expiry is now") << sub(0, 0, kSecond) << 0 << false;
        QTest::newRow("expiry half a second ahead, limit below 1") << sub(-1, 0, kSecond) << -500 << true;
        QTest::newRow("status in other case") << sub(0, 0, kSecond, u"Active"_s) << -500 << false;
        QTest::newRow("traffic used up") << sub(100, 100, kSecond) << -500 << false;
        QTest::newRow("no URL") << sub(0, 0, kSecond, u"active"_s, QString()) << -500 << false;
        QTest::newRow("expiry at the end of time") << sub(0, 0, std::numeric_limits<qint64>::max()) << 0 << true;
    }
    void isActive()
    {
        QFETCH(SubscriptionOut, subscription);
        QFETCH(int, nowMs);
        QFETCH(bool, active);
        QCOMPARE(subscription.isActive(QDateTime::fromSecsSinceEpoch(kSecond, Qt::UTC).addMSecs(nowMs)), active);
    }

    // The creation date is read leniently; one that does not parse is left out.
    void meRecord_data()
    {
        QTest::addColumn<QByteArray>("createdAt");
        QTest::addColumn<QDateTime>("expected"); // invalid: none
        const auto at = [](int h, int m, int ms) { return QDateTime(QDate(2024, 5, 1), QTime(h, m, 0, ms), Qt::UTC); };
        QTest::newRow("fraction and offset") << QByteArray(R"("2024-05-01T12:30:00.250+03:00")") << at(9, 30, 250);
        QTest::newRow("microseconds, compact offset") << QByteArray(R"("2024-05-01T12:30:00.123456-0130")") << at(14, 0, 123);
        QTest::newRow("space, no zone") << QByteArray(R"("2024-05-01 12:30:00")") << at(12, 30, 0);
        QTest::newRow("trailing text") << QByteArray(R"("2024-05-01T12:30:00+03:00x")") << QDateTime();
        QTest::newRow("a number") << QByteArray("1714566600") << QDateTime();
    }
    void meRecord()
    {
        QFETCH(QByteArray, createdAt);
        QFETCH(QDateTime, expected);
        const MeOut me = JsonDecoder(KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601)
                             .decode<MeOut>(R"({"has_telegram":true,"has_apple":false,"created_at":)" + createdAt + "}");
        QCOMPARE(me.createdAt.value_or(QDateTime()), expected);
    }

    // Against a one-month plan.
    void savingsPercent_data()
    {
        QTest::addColumn<qint64>("months");
        QTest::addColumn<qint64>("rub");
        QTest::addColumn<qint64>("monthlyRub");
        QTest::addColumn<int>("percent");       // 0: none
        QTest::newRow("3 months, 10 %") << 3LL << 810LL << 300LL << 10;
        QTest::newRow("0.11 % rounds to nothing") << 3LL << 899LL << 300LL << 0;
        QTest::newRow("a half rounds up") << 2LL << 597LL << 300LL << 1;
        QTest::newRow("free base") << 3LL << 810LL << 0LL << 0;
        QTest::newRow("a price below any int") << 3LL << std::numeric_limits<qint64>::min() << 300LL << 0;
    }
    void savingsPercent()
    {
        QFETCH(qint64, months);
        QFETCH(qint64, rub);
        QFETCH(qint64, monthlyRub);
        QFETCH(int, percent);
        const std::optional<int> expected = percent ? std::optional(percent) : std::nullopt;
        QCOMPARE(Tariff({months, rub, 0, 0, 0}).savingsPercent(Tariff{1, monthlyRub, 0, 0, 0}), expected);
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
        QTest::newRow("http fallback never opened") << noHandler << u"http://t.me/b"_s << QStringList{noHandler} << false;
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

    void theConfirmationRule_data()
    {
        QTest::addColumn<Sub>("current");
        QTest::addColumn<Sub>("baseline");
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("inactive now") << active(30, 0, u"expired"_s) << Sub() << false;
        QTest::newRow("expired since the start") << active() << active(0) << true;
        QTest::newRow("expiry lifted") << active(std::nullopt) << active() << true;
        QTest::newRow("expiry later") << active(60) << active() << true;
        QTest::newRow("expiry earlier") << active(1) << active() << false;
        QTest::newRow("limit grew") << active(30, 20) << active(30, 10) << true;
        QTest::newRow("limit shrank") << active(30, 10) << active(30, 20) << false;
        QTest::newRow("unlimited to a limit") << active(30, 10) << active(30, 0) << false;
        QTest::newRow("a limit to unlimited") << active(30, 0) << active(30, 10) << true;
    }
    void theConfirmationRule()
    {
        QFETCH(Sub, current);
        QFETCH(Sub, baseline);
        QFETCH(bool, confirmed);
        QCOMPARE(PaymentWaitingState::isConfirmed(current, baseline, kNow), confirmed);
    }

    // Polls come one interval apart (the first too); the budget runs out into
    // `timedOut`; retry() polls at once and then every interval, and nowhere else.
    void pollsTimeOutAndRetry()
    {
        Harness h(3);
        h.current = active();
        h.state.start();
        h.clock->advance(2999ms);
        QCOMPARE(h.refreshes, 0);
        h.clock->advance(6001ms);
        QCOMPARE(h.state.phase(), Phase::timedOut);
        QCOMPARE(h.refreshes, 3);

        h.state.retry();
        QCOMPARE(h.refreshes, 4); // at once
        h.current = active(60);
        h.clock->advance(3000ms);
        QCOMPARE(h.state.phase(), Phase::confirmed);

        h.state.retry(); // confirmed: nothing
        h.clock->advance(10000ms);
        h.state.cancel();
        h.state.retry(); // idle: nothing
        h.clock->advance(10000ms);
        QCOMPARE(h.refreshes, 5);
        QCOMPARE(h.state.phase(), Phase::idle);
    }

    // start() while waiting takes a fresh baseline and counts from 0 again; cancel()
    // while a refresh is in flight leaves the late result without effect.
    void startAgainAndCancelDuringARefresh()
    {
        Harness h(40);
        h.state.start(); // no subscription yet
        h.clock->advance(3000ms);
        h.current = active();
        h.state.start();
        QCOMPARE(h.state.attempt(), 0);
        h.clock->advance(3000ms);
        QCOMPARE(h.state.phase(), Phase::waiting); // the same subscription: not confirmed

        h.gate = OneShot<void>();
        h.clock->advance(3000ms);
        h.current = active(60);
        h.state.cancel();
        h.gate->resolve();
        QTRY_COMPARE(h.refreshesDone, 3);
        QCOMPARE(h.state.phase(), Phase::idle);
        QCOMPARE(h.clock->pendingTimers(), 0);
    }
};

QTEST_GUILESS_MAIN(AccountRecordsTest)
#include "tst_account_records.moc"
