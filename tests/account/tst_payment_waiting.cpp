#include "account/PaymentWaitingState.h"

#include <QTest>

#include "support/ManualClock.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

using Phase = PaymentWaitingState::Phase;
using Sub = std::optional<kovra::SubscriptionOut>;
Q_DECLARE_METATYPE(Sub)

namespace {

const QDateTime kNow(QDate(2025, 3, 5), QTime(12, 0), Qt::UTC);
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

    explicit Harness(int maxPolls)
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
        QTest::addColumn<Sub>("current");
        QTest::addColumn<Sub>("baseline");
        QTest::addColumn<bool>("confirmed");
        Sub moreUsed = active();
        moreUsed->usedBytes = 5;
        QTest::newRow("nothing now") << Sub() << active() << false;
        QTest::newRow("inactive now") << active(30, 0, u"expired"_s) << Sub() << false;
        QTest::newRow("nothing before") << active() << Sub() << true;
        QTest::newRow("inactive before") << active() << active(30, 0, u"expired"_s) << true;
        QTest::newRow("expired since the start") << active() << active(0) << true;
        QTest::newRow("expiry lifted") << active(std::nullopt) << active() << true;
        QTest::newRow("expiry later") << active(60) << active() << true;
        QTest::newRow("only more traffic used") << moreUsed << active() << false;
        QTest::newRow("expiry earlier") << active(1) << active() << false;
        QTest::newRow("expiry added") << active() << active(std::nullopt) << false;
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
        LogCapture logs;
        h.state.start();
        h.clock->advance(2999ms);
        QCOMPARE(h.refreshes, 0);
        h.clock->advance(1ms);
        QCOMPARE(h.state.attempt(), 1);
        h.clock->advance(6000ms);
        QCOMPARE(h.state.phase(), Phase::timedOut);
        QCOMPARE(h.refreshes, 3);
        QCOMPARE(logs.texts(u"PaymentWaiting"_s), QStringList{u"payment not confirmed after 3 polls"_s});

        h.state.retry();
        QCOMPARE(h.refreshes, 4); // at once
        QCOMPARE(h.state.attempt(), 1);
        h.current = active(60);
        h.clock->advance(3000ms);
        QCOMPARE(h.state.phase(), Phase::confirmed);
        QVERIFY(logs.contains(u"payment confirmed after 2 polls"_s));

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
        QCOMPARE(h.state.attempt(), 0);
        QVERIFY(!h.state.baseline());
        QCOMPARE(h.clock->pendingTimers(), 0);
    }
};

QTEST_GUILESS_MAIN(PaymentWaitingTest)
#include "tst_payment_waiting.moc"
