#include "diagnostics/DiagnosticsRunner.h"

#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/FixedStatusSource.h"
#include "support/ManualClock.h"
#include "support/ScriptedProber.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<kovra::TunnelStatusReport>)

namespace {

// The six probes' targets with the product's defaults, in report order.
const QStringList kTargets{"HEAD https://1.1.1.1/", "GET https://api.ipify.org/", "HEAD https://example.com/",
                           "tcp 1.1.1.1:443",       "dns cloudflare.com",         "tcp entry.kovra.example:9459"};
const QStringList kNames{"HTTPS via IP 1.1.1.1", "Exit IP (api.ipify.org)", "DNS+HTTPS example.com", "TCP 1.1.1.1:443",
                         "DNS resolve cloudflare.com", "TCP entry.kovra.example:9459 (entry)"};
const QString kRule(48, QChar(0x2500));

} // namespace

class DiagnosticsRunnerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // okMask: which probes succeed; the probes finish in reverse order; source: 0 none,
    // 1 a failing status query, 2 an answering one.
    void run_data()
    {
        QTest::addColumn<QString>("okMask");
        QTest::addColumn<int>("source");
        QTest::newRow("all ok, no source") << "111111" << 0;
        QTest::newRow("some fail, failing query") << "101010" << 1;
        QTest::newRow("all fail, status") << "000000" << 2;
    }
    void run()
    {
        QFETCH(QString, okMask);
        QFETCH(int, source);
        auto clock = std::make_shared<ManualClock>();
        auto prober = std::make_shared<ScriptedProber>();
        for (int i = 0; i < 6; ++i)
            prober->script(kTargets[i], {okMask[i] == u'1', 10 + i, QStringLiteral("d%1").arg(i)}, (60 - 10 * i) * 1ms);
        auto status = source ? std::make_shared<FixedStatusSource>() : nullptr;
        if (source == 2)
            status->report = TunnelStatusReport{.singboxRunning = true};
        DiagnosticsRunner runner({.prober = prober, .clock = clock});
        QSignalSpy running(&runner, &DiagnosticsRunner::isRunningChanged);
        LogCapture capture;

        Pending<void> run(runner.run(status, {"t1", "t2"}));
        QVERIFY(runner.isRunning());
        QVERIFY(run.waitDone());
        QVERIFY(!runner.isRunning());
        QCOMPARE(running.count(), 2);
        QCOMPARE(prober->mostInFlight, 6);
        QCOMPARE(prober->finished.first(), kTargets.last());

        const DiagnosticsReport &report = *runner.lastReport();
        QCOMPARE(report.timestamp, clock->now());
        QCOMPARE(report.reliabilityTelemetry, (QStringList{"t1", "t2"}));
        QCOMPARE(report.tunnelStatus, source == 2 ? status->report : std::nullopt);
        QCOMPARE(report.probes.size(), 6);
        for (int i = 0; i < 6; ++i) {
            const DiagnosticProbeResult &p = report.probes[i];
            QCOMPARE(p.name, kNames[i]);
            QCOMPARE((RawProbeOutcome{p.ok, p.latencyMS, p.detail}), prober->scripts[kTargets[i]].outcome);
            QVERIFY(i == 0 || p.id != report.probes[i - 1].id);
        }
        QCOMPARE(capture.texts(QStringLiteral("Diagnostics")),
                 (QStringList{"diagnostics: starting probes",
                              QStringLiteral("diagnostics: %1/6 ok").arg(okMask.count(u'1'))}));
        prober->calls.sort();
        QCOMPARE(prober->calls,
                 (QStringList{"GET https://api.ipify.org/ prefix=64 sep=« — » t=4",
                              "HEAD https://1.1.1.1/ prefix=64 sep=« — » t=4",
                              "HEAD https://example.com/ prefix=64 sep=« — » t=4", "dns cloudflare.com t=4",
                              "tcp 1.1.1.1:443 t=4", "tcp entry.kovra.example:9459 t=4"}));
    }

    // A second start during a run probes nothing and changes nothing; the previous
    // report stays until the next run replaces it; a runner gone mid-run is left alone.
    void overlappingStarts()
    {
        auto clock = std::make_shared<ManualClock>();
        auto prober = std::make_shared<ScriptedProber>(clock);
        prober->script(kTargets[0], {true, 1, {}}, 1000ms);
        auto runner = std::make_unique<DiagnosticsRunner>(DiagnosticsRunnerOptions{.prober = prober, .clock = clock});
        QSignalSpy running(runner.get(), &DiagnosticsRunner::isRunningChanged);
        QSignalSpy published(runner.get(), &DiagnosticsRunner::lastReportChanged);

        Pending<void> first(runner->run(nullptr, {}));
        Pending<void> second(runner->run(nullptr, {"ignored"}));
        QVERIFY(second.isDone());
        QCOMPARE(prober->calls.size(), 6);
        QCOMPARE(running.count(), 1);
        clock->advance(1000ms);
        QVERIFY(first.waitDone());
        QCOMPARE(published.count(), 1);
        const DiagnosticsReport previous = *runner->lastReport();
        QVERIFY(previous.reliabilityTelemetry.isEmpty());

        Pending<void> third(runner->run(nullptr, {}));
        QCOMPARE(runner->lastReport(), previous);
        runner.reset();
        clock->advance(1000ms);
        QVERIFY(third.waitDone());
        QCOMPARE(prober->calls.size(), 12);
        QCOMPARE(published.count(), 1);
    }

    void plainText_data()
    {
        QTest::addColumn<std::optional<TunnelStatusReport>>("status");
        QTest::addColumn<QStringList>("telemetry");
        QTest::addColumn<QString>("tail"); // what follows the probe lines
        QTest::newRow("no status, no telemetry") << std::optional<TunnelStatusReport>() << QStringList{} << "";
        const QString block = QStringLiteral("\nТуннель\n") + kRule + u'\n';
        QTest::newRow("bare status") << std::optional(TunnelStatusReport{}) << QStringList{}
                                     << block + QStringLiteral("singbox=false\niface=— idx=—\n");
        TunnelStatusReport full{true, "utun7", -3, QDateTime(QDate(2025, 3, 5), QTime(15, 0, 9), Qt::OffsetFromUTC, 10800),
                                "EPERM", {"one", " two"}};
        QTest::newRow("full status, three telemetry lines")
            << std::optional(full) << QStringList{"e1", "", "e3"}
            << block +
                   QStringLiteral("singbox=true\niface=utun7 idx=-3\nlastTunOpenAt=2025-03-05T12:00:09Z\n"
                                  "tunOpenError=EPERM\nrecentLogs:\n  one\n   two\n\n"
                                  "Движок надёжности (последние события)\n") +
                   kRule + QStringLiteral("\ne1\n\ne3\n");
    }
    void plainText()
    {
        QFETCH(std::optional<TunnelStatusReport>, status);
        QFETCH(QStringList, telemetry);
        QFETCH(QString, tail);
        const DiagnosticsReport report{QDateTime(QDate(2025, 3, 5), QTime(9, 7, 3, 250), Qt::OffsetFromUTC, 10800),
                                       {{{}, "TCP 1.1.1.1:443", true, 12, "TCP connected"},
                                        {{}, "DNS resolve cloudflare.com", false, 4000, ""}},
                                       status,
                                       telemetry};
        QCOMPARE(report.plainText(), QStringLiteral("Kovra S diagnostics — 2025-03-05T06:07:03Z\n") + kRule +
                                         QStringLiteral("\n[OK ] TCP 1.1.1.1:443 — 12ms\n       TCP connected\n"
                                                        "[FAIL] DNS resolve cloudflare.com — 4000ms\n") +
                                         tail);
    }
};

QTEST_GUILESS_MAIN(DiagnosticsRunnerTest)
#include "tst_diagnostics_runner.moc"
