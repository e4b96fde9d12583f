#include "platform/Async.h"
#include "platform/L10n.h"
#include "platform/Log.h"

#include <QTest>
#include <QTimer>

#include "support/Await.h"

using namespace kovra;
using namespace std::chrono_literals;

namespace {

QCoro::Task<int> answerLater(std::chrono::milliseconds delay, CancellationToken token, int value)
{
    co_await sleepFor(delay, token);
    co_return value;
}

QCoro::Task<QString> textLater(std::chrono::milliseconds delay, CancellationToken token)
{
    co_await sleepFor(delay, token);
    co_return QStringLiteral("reply");
}

QCoro::Task<QString> waitAndReport(Operation<int> op)
{
    try {
        const int v = co_await op.value();
        co_return QString::number(v);
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
        QTest::newRow("int") << "Ошибка сервера (%d)." << QVariantList{502} << "Ошибка сервера (502).";
        QTest::newRow("negative") << "(%d)" << QVariantList{-1} << "(-1)";
        QTest::newRow("long") << "copied=%ld" << QVariantList{qint64(3)} << "copied=3";
        QTest::newRow("long long") << "%lld bytes" << QVariantList{qint64(1) << 40} << "1099511627776 bytes";
        QTest::newRow("object") << "host %@" << QVariantList{"a.example"} << "host a.example";
        QTest::newRow("positional") << "%2$d of %1$@" << QVariantList{"x", 7} << "7 of x";
        QTest::newRow("precision") << "%.1f / %.2f GB" << QVariantList{1.25, 3.14159} << "1.2 / 3.14 GB";
        QTest::newRow("percent") << "100%% at %d%%" << QVariantList{5} << "100% at 5%";
        QTest::newRow("missing arg") << "a %@ b" << QVariantList{} << "a  b";
        QTest::newRow("trailing percent") << "50%" << QVariantList{} << "50%";
    }
    void format()
    {
        QFETCH(QString, pattern);
        QFETCH(QVariantList, args);
        QFETCH(QString, expected);
        QCOMPARE(L10n::format(pattern, args), expected);
    }

    void textFallsBackToRussianDefault()
    {
        QCOMPARE(L10n::text("conn.title", u"Подключение"), QStringLiteral("Подключение"));
    }

    void logCaptureSeesLinesOfEveryLevel()
    {
        LogCapture capture;
        Logger log(QStringLiteral("Probe"));
        log.info(QStringLiteral("one"));
        log.error(QStringLiteral("two"));
        log.fault(QStringLiteral("three"));
        QCOMPARE(capture.texts(QStringLiteral("Probe")), (QStringList{"one", "two", "three"}));
        QCOMPARE(capture.lines().at(1).level, LogLevel::Error);
        QVERIFY(capture.texts(QStringLiteral("Other")).isEmpty());
    }

    void sleepEndsEarlyWhenCancelled()
    {
        CancellationSource source;
        QTimer::singleShot(20ms, [&] { source.cancel(); });
        QElapsedTimer t;
        t.start();
        QVERIFY_THROWS_EXCEPTION(CancellationError, test::await(sleepFor(10s, source.token())));
        QVERIFY(t.elapsed() < 5000);
    }

    void sleepWithCancelledTokenThrowsAtOnce()
    {
        CancellationSource source;
        source.cancel();
        QVERIFY_THROWS_EXCEPTION(CancellationError, test::await(sleepFor(10s, source.token())));
    }

    void linkedSourceFollowsParent()
    {
        CancellationSource parent;
        auto child = CancellationSource::linkedTo(parent.token());
        QVERIFY(!child.isCancelled());
        parent.cancel();
        QVERIFY(child.isCancelled());
        child.cancel(); // cancelling again is harmless
        auto late = CancellationSource::linkedTo(parent.token());
        QVERIFY(late.isCancelled());
    }

    void operationGivesEveryWaiterTheResult()
    {
        auto op = Operation<int>::run([](CancellationToken t) { return answerLater(10ms, t, 42); });
        auto a = waitAndReport(op);
        auto b = waitAndReport(op);
        QCOMPARE(test::await(std::move(a)), QStringLiteral("42"));
        QCOMPARE(test::await(std::move(b)), QStringLiteral("42"));
        QVERIFY(op.isFinished());
        // A waiter that arrives after the end gets the stored copy.
        QCOMPARE(test::await(waitAndReport(op)), QStringLiteral("42"));
    }

    void operationCopiesNonTrivialResultsToEveryWaiter()
    {
        // A result that a move would empty: every waiter must still see it whole.
        auto op = Operation<QString>::run([](CancellationToken t) { return textLater(10ms, t); });
        test::Pending<QString> a(op.value());
        test::Pending<QString> b(op.value());
        QCOMPARE(a.result(), QStringLiteral("reply"));
        QCOMPARE(b.result(), QStringLiteral("reply"));
        QCOMPARE(test::await(op.value()), QStringLiteral("reply"));
    }

    void cancelledOperationRethrowsToEveryWaiter()
    {
        auto op = Operation<int>::run([](CancellationToken t) { return answerLater(10s, t, 1); });
        auto a = waitAndReport(op);
        op.cancel();
        QCOMPARE(test::await(std::move(a)), QStringLiteral("cancelled"));
        test::await(op.waitForEnd());
        QCOMPARE(test::await(waitAndReport(op)), QStringLiteral("cancelled"));
    }
};

QTEST_GUILESS_MAIN(BasicsTest)
#include "tst_basics.moc"
