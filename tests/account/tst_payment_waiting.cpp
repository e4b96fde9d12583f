#include "account/PaymentWaitingState.h"

#include <QTest>

#include "support/ManualClock.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

using Phase = PaymentWaitingState::Phase;
Q_DECLARE_METATYPE(std::optional<kovra::SubscriptionOut>)

namespace {

const QDateTime kNow(QDate(2025, 3, 5), QTime(12, 0), Qt::UTC);
const qint64 kDay = 86400;
const qint64 kGB = 1'000'000'000;

SubscriptionOut active(std::optional<qint64> expireIn = 30 * kDay, qint64 limit = 0, qint64 used = 0)
{
    std::optional<qint64> expire;
    if (expireIn)
        expire = kNow.toSecsSinceEpoch() + *expireIn;
    return {u"https://sub.example/abc"_s, u"active"_s, limit, used, expire, std::nullopt};
}

// A waiting state over a subscription the test sets, counting refreshes; a refresh
// waits for `gate` while one is set.
struct Harness {
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>(kNow);
    std::optional<SubscriptionOut> current;
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

    explicit Harness(int maxPolls = 3)
        : state([this] { return refresh(this); }, [this] { return current; }, 3000ms, maxPolls, clock)
    {
    }
};

} // namespace

class PaymentWaitingTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void theConfirmationRule_data()
    {
        QTest::addColumn<std::optional<SubscriptionOut>>("current");
        QTest::addColumn<std::optional<SubscriptionOut>>("baseline");
        QTest::addColumn<bool>("confirmed");
        const std::optional<SubscriptionOut> none;
        SubscriptionOut inactive = active();
        inactive.status = u"expired"_s;
        SubscriptionOut moreUsed = active();
        moreUsed.usedBytes = 5 * kGB;
        QTest::newRow("nothing now") << none << std::optional(active()) << false;
        QTest::newRow("inactive now") << std::optional(inactive) << none << false;
        QTest::newRow("nothing before") << std::optional(active()) << none << true;
        QTest::newRow("inactive before") << std::optional(active()) << std::optional(inactive) << true;
        QTest::newRow("expired since the start") << std::optional(active()) << std::optional(active(0)) << true;
        QTest::newRow("expiry lifted") << std::optional(active(std::nullopt)) << std::optional(active()) << true;
        QTest::newRow("expiry later") << std::optional(active(60 * kDay)) << std::optional(active()) << true;
        QTest::newRow("same expiry, more traffic used") << std::optional(moreUsed) << std::optional(active()) << false;
        QTest::newRow("expiry earlier") << std::optional(active(kDay)) << std::optional(active()) << false;
        QTest::newRow("expiry added") << std::optional(active()) << std::optional(active(std::nullopt)) << false;
        QTest::newRow("limit grew") << std::optional(active(30 * kDay, 20 * kGB)) << std::optional(active(30 * kDay, 10 * kGB))
                                    << true;
        QTest::newRow("limit shrank") << std::optional(active(30 * kDay, 10 * kGB))
                                      << std::optional(active(30 * kDay, 20 * kGB)) << false;
        QTest::newRow("unlimited to a limit") << std::optional(active(30 * kDay, 10 * kGB))
                                              << std::optional(active(30 * kDay, 0)) << false;
        QTest::newRow("a limit to unlimited") << std::optional(active(30 * kDay, 0))
                                              << std::optional(active(30 * kDay, 10 * kGB)) << true;
        QTest::newRow("unlimited to negative (still unlimited)") << std::optional(active(30 * kDay, -1))
                                                                 << std::optional(active(30 * kDay, 0)) << false;
    }
    void theConfirmationRule()
    {
        QFETCH(std::optional<SubscriptionOut>, current);
        QFETCH(std::optional<SubscriptionOut>, baseline);
        QFETCH(bool, confirmed);
        QCOMPARE(PaymentWaitingState::isConfirmed(current, baseline, kNow), confirmed);
    }

    // Polls come one interval apart (the first too); the budget runs out into
    // `timedOut`; retry() polls at once and then every interval.
    void pollsTimeOutAndRetry()
    {
        Harness h;
        h.current = active();
        LogCapture logs;
        h.state.start();
        QCOMPARE(h.state.phase(), Phase::waiting);
        h.clock->advance(2999ms);
        QCOMPARE(h.refreshes, 0);
        h.clock->advance(1ms);
        QCOMPARE(h.refreshes, 1);
        QCOMPARE(h.state.attempt(), 1);
        h.clock->advance(6000ms);
        QCOMPARE(h.state.phase(), Phase::timedOut);
        QCOMPARE(h.state.attempt(), 3);
        QCOMPARE(logs.texts(u"PaymentWaiting"_s), QStringList{u"payment not confirmed after 3 polls"_s});
        QCOMPARE(h.clock->pendingTimers(), 0);

        h.state.retry();
        QCOMPARE(h.refreshes, 4); // at once
        QCOMPARE(h.state.attempt(), 1);
        h.current = active(60 * kDay);
        h.clock->advance(3000ms);
        QCOMPARE(h.state.phase(), Phase::confirmed);
        QCOMPARE(h.state.attempt(), 2);
        QVERIFY(logs.contains(u"payment confirmed after 2 polls"_s));

        h.state.retry(); // confirmed: nothing
        h.clock->advance(10000ms);
        QCOMPARE(h.refreshes, 5);
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
        QCOMPARE(h.state.attempt(), 1);
        h.current = active();
        h.state.start();
        QCOMPARE(h.state.attempt(), 0);
        QVERIFY(h.state.baseline() == h.current);
        h.clock->advance(3000ms);
        QCOMPARE(h.state.phase(), Phase::waiting); // same subscription: not confirmed

        h.gate = OneShot<void>();
        h.clock->advance(3000ms);
        QCOMPARE(h.refreshes, 3);
        h.current = active(60 * kDay);
        h.state.cancel();
        h.gate->resolve();
        QTRY_COMPARE(h.refreshesDone, 3);
        QCOMPARE(h.state.phase(), Phase::idle);
        QCOMPARE(h.state.attempt(), 0);
        QVERIFY(!h.state.baseline());
        QCOMPARE(h.clock->pendingTimers(), 0);
    }

    void noPollsTimeOutAtOnce()
    {
        Harness h(0);
        LogCapture logs;
        h.state.start();
        QCOMPARE(h.state.phase(), Phase::timedOut);
        QCOMPARE(h.refreshes, 0);
        QVERIFY(logs.contains(u"payment not confirmed after 0 polls"_s));
    }
};

QTEST_GUILESS_MAIN(PaymentWaitingTest)
#include "tst_payment_waiting.moc"
