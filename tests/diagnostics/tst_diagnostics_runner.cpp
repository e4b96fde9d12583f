#include "diagnostics/DiagnosticsRunner.h"
#include "diagnostics/TunnelStatusSource.h"
#include "tunnel/TunnelController.h"

#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/FixedStatusSource.h"
#include "support/ManualClock.h"
#include "support/ScriptedProber.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::DiagnosticsReport)
Q_DECLARE_METATYPE(std::optional<kovra::TunnelStatusReport>)

namespace {

// The targets of the six probes with the product's targets, in report order.
const QStringList kTargets{"HEAD https://1.1.1.1/", "GET https://api.ipify.org/", "HEAD https://example.com/",
                           "tcp 1.1.1.1:443",       "dns cloudflare.com",         "tcp entry.kovra.example:9459"};

const QString kRule(48, QChar(0x2500));

} // namespace

class DiagnosticsRunnerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // okMask: which probes succeed; reverse: probe 6 finishes first and probe 1 last.
    void run_data()
    {
        QTest::addColumn<QString>("okMask");
        QTest::addColumn<bool>("reverse");
        QTest::addColumn<int>("source"); // 0 none, 1 failing query, 2 answering
        QTest::addColumn<QStringList>("telemetry");
        QTest::newRow("all ok, no source") << "111111" << false << 0 << QStringList{};
        QTest::newRow("finishing in reverse, failing query") << "101010" << true << 1 << QStringList{"a"};
        QTest::newRow("all fail, status and telemetry") << "000000" << true << 2 << QStringList{"x", "y", "z"};
    }
    void run()
    {
        QFETCH(QString, okMask);
        QFETCH(bool, reverse);
        QFETCH(int, source);
        QFETCH(QStringList, telemetry);
        auto clock = std::make_shared<ManualClock>();
        auto prober = std::make_shared<ScriptedProber>();
        for (int i = 0; i < 6; ++i)
            prober->script(kTargets[i], {okMask[i] == u'1', 10 + i, QStringLiteral("d%1").arg(i)},
                           std::chrono::milliseconds(reverse ? 60 - 10 * i : 0));
        std::shared_ptr<FixedStatusSource> status;
        if (source > 0) {
            status = std::make_shared<FixedStatusSource>();
            if (source == 2)
                status->report = TunnelStatusReport{.singboxRunning = true, .ifaceName = QStringLiteral("tun0")};
        }
        DiagnosticsRunner runner({.prober = prober, .clock = clock});
        QSignalSpy running(&runner, &DiagnosticsRunner::isRunningChanged);
        QSignalSpy published(&runner, &DiagnosticsRunner::lastReportChanged);
        LogCapture capture;

        Pending<void> run(runner.run(status, telemetry));
        QVERIFY(runner.isRunning());
        QVERIFY(run.waitDone());
        QVERIFY(!runner.isRunning());
        QCOMPARE(running.count(), 2);
        QCOMPARE(published.count(), 1);
        QCOMPARE(prober->mostInFlight, 6);
        if (reverse)
            QCOMPARE(prober->finished.first(), kTargets.last());

        QVERIFY(runner.lastReport());
        const DiagnosticsReport &report = *runner.lastReport();
        QCOMPARE(report.timestamp, clock->now());
        QCOMPARE(report.reliabilityTelemetry, telemetry);
        QCOMPARE(report.tunnelStatus, source == 2 ? status->report : std::nullopt);
        QCOMPARE(report.probes.size(), 6);
        const QStringList names = DiagnosticsRunner::probeNames({});
        for (int i = 0; i < 6; ++i) {
            const DiagnosticProbeResult &p = report.probes[i];
            QCOMPARE(p.name, names[i]);
            QCOMPARE((RawProbeOutcome{p.ok, p.latencyMS, p.detail}), prober->scripts[kTargets[i]].outcome);
            QVERIFY(!p.id.isNull() && (i == 0 || p.id != report.probes[i - 1].id));
        }
        QCOMPARE(capture.texts(QStringLiteral("Diagnostics")),
                 (QStringList{"diagnostics: starting probes",
                              QStringLiteral("diagnostics: %1/6 ok").arg(okMask.count(u'1'))}));
    }

    void probeArguments()
    {
        auto prober = std::make_shared<ScriptedProber>();
        DiagnosticsRunner runner({.prober = prober});
        await(runner.run(nullptr, {}));
        prober->calls.sort();
        QCOMPARE(prober->calls,
                 (QStringList{"GET https://api.ipify.org/ prefix=64 sep=« — » t=4",
                              "HEAD https://1.1.1.1/ prefix=64 sep=« — » t=4",
                              "HEAD https://example.com/ prefix=64 sep=« — » t=4", "dns cloudflare.com t=4",
                              "tcp 1.1.1.1:443 t=4", "tcp entry.kovra.example:9459 t=4"}));
        QCOMPARE(DiagnosticsRunner::probeNames({}),
                 (QStringList{"HTTPS via IP 1.1.1.1", "Exit IP (api.ipify.org)", "DNS+HTTPS example.com",
                              "TCP 1.1.1.1:443", "DNS resolve cloudflare.com", "TCP entry.kovra.example:9459 (entry)"}));
    }

    // A second start while a run is under way probes nothing and changes nothing; the
    // previous report stays visible during the next run.
    void overlappingStart()
    {
        auto clock = std::make_shared<ManualClock>();
        auto prober = std::make_shared<ScriptedProber>(clock);
        for (const QString &target : kTargets)
            prober->script(target, {true, 1, {}}, 1000ms);
        DiagnosticsRunner runner({.prober = prober, .clock = clock});
        QSignalSpy running(&runner, &DiagnosticsRunner::isRunningChanged);
        QSignalSpy published(&runner, &DiagnosticsRunner::lastReportChanged);

        Pending<void> first(runner.run(nullptr, {}));
        Pending<void> second(runner.run(nullptr, {QStringLiteral("ignored")}));
        QVERIFY(second.isDone());
        QCOMPARE(prober->calls.size(), 6);
        QCOMPARE(running.count(), 1);
        clock->advance(1000ms);
        QVERIFY(first.waitDone());
        QCOMPARE(published.count(), 1);
        QVERIFY(runner.lastReport()->reliabilityTelemetry.isEmpty());

        const DiagnosticsReport previous = *runner.lastReport();
        Pending<void> third(runner.run(nullptr, {}));
        QVERIFY(runner.isRunning());
        QCOMPARE(runner.lastReport(), previous);
        clock->advance(1000ms);
        QVERIFY(third.waitDone());
        QCOMPARE(prober->calls.size(), 12);
        QCOMPARE(published.count(), 2);
        QCOMPARE(running.count(), 4);
    }

    // The runner going away mid-run ends the run without touching it.
    void runnerGoneMidRun()
    {
        auto clock = std::make_shared<ManualClock>();
        auto prober = std::make_shared<ScriptedProber>(clock);
        prober->script(kTargets[0], {true, 1, {}}, 500ms);
        auto runner = std::make_unique<DiagnosticsRunner>(DiagnosticsRunnerOptions{.prober = prober, .clock = clock});
        Pending<void> run(runner->run(nullptr, {}));
        runner.reset();
        clock->advance(500ms);
        QVERIFY(run.waitDone());
        QVERIFY(!run.error());
    }

    void plainText_data()
    {
        QTest::addColumn<std::optional<TunnelStatusReport>>("status");
        QTest::addColumn<QStringList>("telemetry");
        QTest::addColumn<QString>("tail"); // what follows the probe lines
        QTest::newRow("no status, no telemetry") << std::optional<TunnelStatusReport>() << QStringList{} << "";
        const QString block = QStringLiteral("\nТуннель\n") + kRule + u'\n';
        QTest::newRow("status without interface, dates or logs")
            << std::optional(TunnelStatusReport{}) << QStringList{}
            << block + QStringLiteral("singbox=false\niface=— idx=—\n");
        TunnelStatusReport full;
        full.singboxRunning = true;
        full.ifaceName = QStringLiteral("utun7");
        full.ifaceIndex = -3;
        full.lastTunOpenAt = QDateTime(QDate(2025, 3, 5), QTime(15, 0, 9), Qt::OffsetFromUTC, 3 * 3600);
        full.tunOpenError = QStringLiteral("EPERM");
        full.recentLogs = {"one", " two"};
        QTest::newRow("full status and three telemetry lines")
            << std::optional(full) << QStringList{"e1", "", "e3"}
            << block +
                   QStringLiteral("singbox=true\niface=utun7 idx=-3\nlastTunOpenAt=2025-03-05T12:00:09Z\n"
                                  "tunOpenError=EPERM\nrecentLogs:\n  one\n   two\n") +
                   QStringLiteral("\nДвижок надёжности (последние события)\n") + kRule + QStringLiteral("\ne1\n\ne3\n");
    }
    void plainText()
    {
        QFETCH(std::optional<TunnelStatusReport>, status);
        QFETCH(QStringList, telemetry);
        QFETCH(QString, tail);
        DiagnosticsReport report;
        report.timestamp = QDateTime(QDate(2025, 3, 5), QTime(9, 7, 3, 250), Qt::OffsetFromUTC, 3 * 3600);
        report.probes = {{{}, "TCP 1.1.1.1:443", true, 12, "TCP connected"},
                         {{}, "DNS resolve cloudflare.com", false, 4000, ""},
                         {{}, "Exit IP (api.ipify.org)", true, 0, "HTTP 200 — 203.0.113.5"}};
        report.tunnelStatus = status;
        report.reliabilityTelemetry = telemetry;
        QCOMPARE(report.plainText(), QStringLiteral("Kovra S diagnostics — 2025-03-05T06:07:03Z\n") + kRule +
                                         QStringLiteral("\n[OK ] TCP 1.1.1.1:443 — 12ms\n"
                                                        "       TCP connected\n"
                                                        "[FAIL] DNS resolve cloudflare.com — 4000ms\n"
                                                        "[OK ] Exit IP (api.ipify.org) — 0ms\n"
                                                        "       HTTP 200 — 203.0.113.5\n") +
                                         tail);
    }
};

QTEST_GUILESS_MAIN(DiagnosticsRunnerTest)
#include "tst_diagnostics_runner.moc"
