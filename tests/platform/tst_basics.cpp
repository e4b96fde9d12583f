#include "platform/Async.h"
#include "platform/L10n.h"

#include <QTest>
#include <QTimer>
#include <QTranslator>

#include "support/Await.h"
#include "support/ManualClock.h"

using namespace kovra;
using namespace std::chrono_literals;

namespace {

QCoro::Task<QString> textLater(std::chrono::milliseconds delay, CancellationToken token)
{
    co_await sleepFor(delay, token);
    co_return QStringLiteral("reply");
}

QCoro::Task<QString> waitAndReport(Operation<QString> op)
{
    try {
        co_return co_await op.value();
    } catch (const CancellationError &) {
        co_return QStringLiteral("cancelled");
    }
}

} // namespace

class BasicsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void format_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<QString>("expected");
        QTest::newRow("positional") << "%2$d of %1$@" << QVariantList{"x", 7} << "7 of x";
        QTest::newRow("precision") << "%.1f / %.2f GB" << QVariantList{1.25, 3.14159} << "1.2 / 3.14 GB";
        QTest::newRow("percent") << "100%% at %d%%" << QVariantList{5} << "100% at 5%";
        QTest::newRow("missing arg") << "a %@ b" << QVariantList{} << "a  b";
    }
    void format()
    {
        QFETCH(QString, pattern);
        QFETCH(QVariantList, args);
        QTEST(L10n::format(pattern, args), "expected");
    }

    // An installed translation wins over the Russian default, whether it is id-based
    // or keyed by source text in context "kovra".
    void installedTranslationWins_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("id-based, then formatted") << "by_id" << QByteArray("error.server") << "Server error (502).";
        QTest::newRow("by source text") << "by_source" << QByteArray("diag.title") << "Diagnostics";
    }
    void installedTranslationWins()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, key);
        const auto lookUp = [&key] {
            return L10n::format(L10n::text(key.constData(), u"по умолчанию"), {502});
        };
        QCOMPARE(lookUp(), QStringLiteral("по умолчанию"));
        QTranslator translator;
        QVERIFY(translator.load(file, QStringLiteral(KOVRA_TEST_L10N_DIR)));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        const QString translated = lookUp();
        QCoreApplication::removeTranslator(&translator);
        QTEST(translated, "expected");
    }

    void sleepEndsWhenCancelled()
    {
        CancellationSource early;
        early.cancel();
        QVERIFY_THROWS_EXCEPTION(CancellationError, test::await(sleepFor(10s, early.token())));

        CancellationSource source;
        QTimer::singleShot(20ms, [&] { source.cancel(); });
        QElapsedTimer t;
        t.start();
        QVERIFY_THROWS_EXCEPTION(CancellationError, test::await(sleepFor(10s, source.token())));
        QVERIFY(t.elapsed() < 5000);
    }

    void operationCopiesTheResultToEveryWaiter()
    {
        // A result that a move would empty: every waiter must still see it whole.
        auto op = Operation<QString>::run([](CancellationToken t) { return textLater(10ms, t); });
        test::Pending<QString> a(op.value());
        test::Pending<QString> b(op.value());
        QCOMPARE(a.result(), QStringLiteral("reply"));
        QCOMPARE(b.result(), QStringLiteral("reply"));
        QVERIFY(op.isFinished());
        // A waiter that arrives after the end gets the stored copy.
        QCOMPARE(test::await(op.value()), QStringLiteral("reply"));
    }

    void cancelledOperationRethrowsToEveryWaiter()
    {
        auto op = Operation<QString>::run([](CancellationToken t) { return textLater(10s, t); });
        auto a = waitAndReport(op);
        op.cancel();
        QCOMPARE(test::await(std::move(a)), QStringLiteral("cancelled"));
        test::await(op.waitForEnd());
        QCOMPARE(test::await(waitAndReport(op)), QStringLiteral("cancelled"));
    }

    void oneShotDeliversTheFirstResultOnly()
    {
        OneShot<QString> shot;
        test::Pending<QString> early(shot.wait());
        QVERIFY(shot.resolve(QStringLiteral("first")));
        QVERIFY(!shot.resolve(QStringLiteral("second")));
        QVERIFY(!shot.cancel());
        QCOMPARE(early.result(), QStringLiteral("first"));
        QCOMPARE(test::await(shot.wait()), QStringLiteral("first"));

        OneShot<void> failed;
        test::Pending<void> waiter(failed.wait());
        QVERIFY(failed.cancel());
        QVERIFY(failed.resolve() == false);
        QVERIFY(waiter.waitDone());
        QVERIFY(isCancellation(waiter.error()));
        test::await(failed.waitForEnd()); // never throws
    }

    void oneShotBoundUsesTheClock()
    {
        test::ManualClock clock;
        OneShot<int> shot;
        test::Pending<std::optional<int>> bounded(shot.waitFor(5s, clock));
        clock.advance(4999ms);
        QVERIFY(!bounded.isDone());
        clock.advance(1ms);
        QCOMPARE(bounded.result(), std::nullopt);
        // The one-shot itself stays pending for other waiters.
        test::Pending<std::optional<int>> second(shot.waitFor(5s, clock));
        shot.resolve(7);
        QCOMPARE(second.result(), std::optional<int>(7));
        QCOMPARE(clock.pendingTimers(), 0);
    }

    void systemTimerMayBeDestroyedInsideItsCall()
    {
        std::unique_ptr<ClockTimer> timer;
        bool ran = false;
        timer = Clock::system()->startTimer(1ms, [&] {
            ran = true;
            timer.reset();
        });
        QTRY_VERIFY(ran);
        QVERIFY(!timer);
    }
};

QTEST_GUILESS_MAIN(BasicsTest)
#include "tst_basics.moc"
