#include "diagnostics/AppGroupFiles.h"
#include "diagnostics/ConnectivityProbe.h"
#include "diagnostics/DiagnosticsRunner.h"
#include "diagnostics/ExtensionSnapshots.h"
#include "diagnostics/TunnelStatusSource.h"
#include "platform/AppGroupContainer.h"
#include "platform/Async.h"
#include "tunnel/TunnelController.h"
#include "tunnel/TunnelEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/FixedStatusSource.h"
#include "support/ManualClock.h"
#include "support/ScriptedProber.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

using Trace = std::pair<std::optional<QString>, std::optional<QString>>;
Q_DECLARE_METATYPE(Trace)
Q_DECLARE_METATYPE(kovra::ConnectivityClassification)

namespace {

const QString kGroup = QStringLiteral("group.test");

// Answers each probe with the next scripted outcome, a turn of the event loop later,
// and counts how many overlapped.
class SequenceProber final : public RawProber {
public:
    QList<RawProbeOutcome> outcomes;
    int calls = 0, inFlight = 0, mostInFlight = 0;

    QCoro::Task<RawProbeOutcome> tcp(QString, qint64, double) override { return answer(); }
    QCoro::Task<RawProbeOutcome> dns(QString, double) override { return answer(); }
    QCoro::Task<RawProbeOutcome> https(QString, bool, qint64, QString, double) override { return answer(); }

private:
    QCoro::Task<RawProbeOutcome> answer()
    {
        const RawProbeOutcome outcome = outcomes.value(calls++);
        mostInFlight = qMax(mostInFlight, ++inFlight);
        co_await sleepFor(0ms);
        --inFlight;
        co_return outcome;
    }
};

// The six probes' targets with the product's defaults, in report order.
const QStringList kTargets{"HEAD https://1.1.1.1/", "GET https://api.ipify.org/", "HEAD https://example.com/",
                           "tcp 1.1.1.1:443",       "dns cloudflare.com",         "tcp entry.kovra.example:9459"};

const QDateTime kBase(QDate(2025, 3, 1), QTime(9, 30), Qt::UTC);

// "-": no file; "<bad>": bytes that are not UTF-8; anything else: the file's text.
void put(const QString &root, const QString &relative, const QString &content, int day)
{
    if (content == u"-")
        return;
    QDir().mkpath(QFileInfo(root + u'/' + relative).path());
    QFile file(root + u'/' + relative);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content == u"<bad>" ? QByteArray("ok \xc3\x28") : content.toUtf8());
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(kBase.addDays(day), QFileDevice::FileModificationTime));
}

std::optional<QString> text(const QString &content) { return content == u"-" || content == u"<bad>" ? std::nullopt : std::optional(content); }

} // namespace

// The in-tunnel self-test, the diagnostics runner's probes, and the files the tunnel
// provider and the self-test leave in the app group's container.
class ChecksInTunnelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // The six results as "TCGSHB" flags (TCP, the two look-ups, the trace GET, the check
    // HEAD, the control HEAD); the control never counts.
    void aSelfTest_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<ConnectivityClassification>("expected");
        QTest::addColumn<bool>("withStatus"); // a status report with 3 skipped binds of 40
        using C = ConnectivityClassification;
        QTest::newRow("only the control answers") << "000001" << C::tunnelNotCarrying << true;
        QTest::newRow("TCP fails, one look-up works") << "001000" << C::tcpFail << true;
        QTest::newRow("TCP fails, the check answers") << "000010" << C::tcpFail << false;
        QTest::newRow("look-ups fail, HTTPS answers") << "100111" << C::dnsFail << true;
        QTest::newRow("trace answers, checks fail") << "101100" << C::allOk << false;
        QTest::newRow("HTTPS fails, the control answers") << "111001" << C::tlsFail << false;
    }
    void aSelfTest()
    {
        QFETCH(QString, flags);
        QFETCH(ConnectivityClassification, expected);
        QFETCH(bool, withStatus);
        TestHome home(TestHome::PathsOnly);
        auto prober = std::make_shared<SequenceProber>();
        for (int i = 0; i < 6; ++i)
            prober->outcomes << RawProbeOutcome{flags[i] == u'1', 10 * (i + 1), QStringLiteral("detail %1").arg(i)};
        // The trace page is read whether or not its step passed.
        prober->outcomes[3].detail = QStringLiteral("HTTP 403\nip=198.51.100.7\nloc=FI");
        const QDateTime started(QDate(2025, 3, 5), QTime(12, 0, 1), Qt::UTC);

        const ConnectivityProbeOptions options{.prober = prober};
        const auto status = withStatus ? std::optional(TunnelStatusReport{.autoDetectSkippedBinds = 3}) : std::nullopt;
        const ConnectivityReport report = await(ConnectivityProbe::run(status, AppGroupContainer(home.paths(), kGroup), started, options));

        QCOMPARE(report.classification, expected);
        QCOMPARE(report.exitIP, std::optional<QString>(QStringLiteral("198.51.100.7")));
        QCOMPARE(report.autoDetectSkippedBinds, withStatus ? std::optional<quint64>(3) : std::nullopt);
        QCOMPARE(prober->mostInFlight, 1);
        QCOMPARE(report.steps.size(), 6);
        for (int i = 0; i < 6; ++i)
            QCOMPARE((RawProbeOutcome{report.steps[i].ok, report.steps[i].latencyMS, report.steps[i].detail}), prober->outcomes[i]);
        QFile written(AppGroupContainer(home.paths(), kGroup).filePath(QStringLiteral("diagnostics/connectivity-last.txt")));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(written.readAll()), report.plainText());
    }

    void parseTrace_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Trace>("expected");
        const auto both = [](const char *ip, const char *loc) {
            return Trace(ip ? std::optional<QString>(QString::fromUtf8(ip)) : std::nullopt,
                         loc ? std::optional<QString>(QString::fromUtf8(loc)) : std::nullopt);
        };
        QTest::newRow("later line wins") << "ip=192.0.2.1\nip=192.0.2.2" << both("192.0.2.2", nullptr);
        QTest::newRow("empty value keeps the earlier") << "ip=192.0.2.1\nip=  \t\nloc=" << both("192.0.2.1", nullptr);
        QTest::newRow("every line break")
            << QStringLiteral("a\r\nip=1\u2028loc=A\u0085x\vip=2\floc=B\u2029y\rz") << both("2", "B");
        QTest::newRow("prefixes must open the line") << "xip=1\nIP=2\nloc =3\n ip=4 5" << both("4 5", nullptr);
    }
    void parseTrace()
    {
        QFETCH(QString, text);
        QFETCH(Trace, expected);
        QCOMPARE(ConnectivityProbe::parseTrace(text), expected);
    }

    // Times in UTC, optional lines only when known, a step's detail indented below it.
    void selfTestText()
    {
        ConnectivityReport report;
        report.timestamp = QDateTime(QDate(2025, 3, 5), QTime(9, 7, 3, 250), Qt::OffsetFromUTC, 3 * 3600);
        report.classification = ConnectivityClassification::allOk;
        report.exitLoc = QStringLiteral("NL");
        report.autoDetectSkippedBinds = 3;
        report.steps = {{{}, ConnectivityLayer::tcp, "TCP 1.1.1.1:443", true, 12, "TCP connected"}};
        QCOMPARE(report.plainText(), QStringLiteral("Kovra S — connectivity self-test\ntimestamp=2025-03-05T06:07:03Z\n"
                                                    "classification=allOk — Всё ОК — трафик идёт через туннель\nexitLoc=NL\n"
                                                    "autoDetectSkippedBinds=3  (гипотеза A: skippedBinds=3)\n") +
                                         QString(56, QChar(0x2500)) + QStringLiteral("\n[OK ] [tcp] TCP 1.1.1.1:443 — 12ms\n       TCP connected\n"));
    }

    // Every way to have no status report ends in none, never in an error.
    void statusReportOrNone()
    {
        TestHome home(TestHome::PathsOnly);
        FixedStatusSource failing;
        FixedStatusSource answering;
        answering.report = TunnelStatusReport{.autoDetectSkippedBinds = 7};
        TunnelEnvironment tunnel(home.paths(), home.runtimeDir() + QStringLiteral("/none.sock"));
        auto controller = std::make_unique<TunnelController>(tunnel.controllerOptions());
        ControllerStatusSource unattached(controller.get());
        ControllerStatusSource gone(controller.get());
        QCOMPARE(await(kovra::statusReportOrNone(nullptr)), std::nullopt);
        QCOMPARE(await(kovra::statusReportOrNone(&failing)), std::nullopt);
        QCOMPARE(await(kovra::statusReportOrNone(&answering)), answering.report);
        QCOMPARE(await(kovra::statusReportOrNone(&unattached)), std::nullopt);
        controller.reset();
        QCOMPARE(await(kovra::statusReportOrNone(&gone)), std::nullopt);
    }

    // okMask: which probes succeed; the probes finish in reverse order; source: 0 none,
    // 1 a failing status query, 2 an answering one.
    void aRunnerPass_data()
    {
        QTest::addColumn<QString>("okMask");
        QTest::addColumn<int>("source");
        QTest::newRow("all ok, no source") << "111111" << 0;
        QTest::newRow("some fail, failing query") << "101010" << 1;
        QTest::newRow("all fail, status") << "000000" << 2;
    }
    void aRunnerPass()
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

        Pending<void> run(runner.run(status, {"t1", "t2"}));
        QVERIFY(runner.isRunning());
        QVERIFY(run.waitDone());
        QCOMPARE(running.count(), 2);
        QCOMPARE(prober->mostInFlight, 6);
        QCOMPARE(prober->finished.first(), kTargets.last());

        const DiagnosticsReport &report = *runner.lastReport();
        QCOMPARE(report.reliabilityTelemetry, (QStringList{"t1", "t2"}));
        QCOMPARE(report.tunnelStatus, source == 2 ? status->report : std::nullopt);
        QCOMPARE(report.probes.size(), 6);
        for (int i = 0; i < 6; ++i) {
            const DiagnosticProbeResult &p = report.probes[i];
            QCOMPARE((RawProbeOutcome{p.ok, p.latencyMS, p.detail}), prober->scripts[kTargets[i]].outcome);
        }
    }

    // A second start during a run probes nothing and changes nothing; the previous
    // report stays until the next run replaces it; a runner gone mid-run is left alone.
    void overlappingRunnerStarts()
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

    // The summary's file is dated day 1, the fetched configuration day 2, the sanitised one day 3.
    void fetchedConfig_data()
    {
        QTest::addColumn<QStringList>("contents"); // summary, fetched, sanitized
        QTest::addColumn<int>("day");              // of modifiedAt; -1: no snapshot
        QTest::newRow("all three: the sanitised file dates it")
            << QStringList{"summary", "{}", "{\"b\":\"***\"}"} << 3;
        QTest::newRow("empty summary counts") << QStringList{"", "-", "-"} << 1;
        QTest::newRow("none readable") << QStringList{"<bad>", "<bad>", "-"} << -1;
        QTest::newRow("unreadable sanitised file still dates it") << QStringList{"summary", "-", "<bad>"} << 3;
    }
    void fetchedConfig()
    {
        QFETCH(QStringList, contents);
        QFETCH(int, day);
        TestHome home(TestHome::PathsOnly);
        const QString root = AppGroupContainer(home.paths(), kGroup).path();
        put(root, DiagnosticsFiles::configSummary, contents[0], 1);
        put(root, DiagnosticsFiles::configFetched, contents[1], 2);
        put(root, DiagnosticsFiles::configSanitized, contents[2], 3);
        const auto snapshot = FetchedConfigDiagnostics::load(AppGroupContainer(home.paths(), kGroup));
        QCOMPARE(snapshot.has_value(), day >= 0);
        if (!snapshot)
            return;
        QCOMPARE(snapshot->summary, text(contents[0]));
        QCOMPARE(snapshot->redactedConfig, text(contents[1]));
        QCOMPARE(snapshot->sanitizedConfig, text(contents[2]));
        QCOMPARE(snapshot->modifiedAt, std::optional<QDateTime>(kBase.addDays(day)));
    }

    void startupNotes_data()
    {
        QTest::addColumn<bool>("failureNote"); // last-startup-failure.txt, else last-startup.txt
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("container"); // "lookup", "given" (a folder of its own), "missing"
        QTest::addColumn<bool>("present");
        QTest::newRow("failure note, empty") << true << "" << "lookup" << true;
        QTest::newRow("start note not UTF-8") << false << "<bad>" << "lookup" << false;
        QTest::newRow("given container") << true << "tun open failed: EPERM" << "given" << true;
        QTest::newRow("no container") << false << "started" << "missing" << false;
    }
    void startupNotes()
    {
        QFETCH(bool, failureNote);
        QFETCH(QString, content);
        QFETCH(QString, container);
        QFETCH(bool, present);
        TestHome home(TestHome::PathsOnly);
        const QString root = container == u"given" ? home.path() + QStringLiteral("/elsewhere")
                                                   : AppGroupContainer(home.paths(), kGroup).path();
        put(root, failureNote ? DiagnosticsFiles::lastStartupFailure : DiagnosticsFiles::lastStartup, content, 4);
        const QString group = container == u"missing" ? QStringLiteral("..") : kGroup;
        const std::optional<QString> given =
            container == u"given" ? std::optional<QString>(root) : std::nullopt;
        const auto snapshot = failureNote ? LastStartupFailureDiagnostics::load(AppGroupContainer(home.paths(), group), given)
                                          : LastStartupDiagnostics::load(AppGroupContainer(home.paths(), group), given);
        QCOMPARE(snapshot.has_value(), present);
        if (present)
            QCOMPARE(*snapshot, (LastStartupDiagnostics::Snapshot{content, kBase.addDays(4)}));
    }

    // How the writer ends: the file's text afterwards, or the error it logs.
    void writeText_data()
    {
        QTest::addColumn<QString>("setup"); // what is in the container before
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("logged"); // empty: written
        const QString path = DiagnosticsFiles::connectivityLast;
        QTest::newRow("creates the folder") << "empty container" << path << "";
        QTest::newRow("container missing") << "no container" << path << "self-test: app group container missing";
        QTest::newRow("folder is a file") << "diagnostics is a file" << path
                                          << "self-test: write diagnostics/connectivity-last.txt failed: cannot create ";
        QTest::newRow("target is a folder") << "target is a folder" << path
                                            << "self-test: write diagnostics/connectivity-last.txt failed: Is a directory";
        QTest::newRow("path leaves the container") << "empty container" << "../escaped.txt"
                                                   << "self-test: write ../escaped.txt failed: ";
    }
    void writeText()
    {
        QFETCH(QString, setup);
        QFETCH(QString, relative);
        QFETCH(QString, logged);
        TestHome home(TestHome::PathsOnly);
        const QString group = setup == u"no container" ? QStringLiteral("..") : kGroup;
        const QString root = AppGroupContainer(home.paths(), kGroup).path();
        QVERIFY(QDir().mkpath(root));
        if (setup == u"diagnostics is a file")
            put(root, QStringLiteral("diagnostics"), QStringLiteral("keep"), 0);
        if (setup == u"target is a folder")
            put(root, relative + QStringLiteral("/inner.txt"), QStringLiteral("keep"), 0);

        LogCapture capture;
        const Logger log(QStringLiteral("FilesTest"));
        AppGroupFiles::writeText(QByteArrayLiteral("report ✓\n"), relative, AppGroupContainer(home.paths(), group), log, QStringLiteral("self-test"));

        const QStringList lines = capture.texts(QStringLiteral("FilesTest"));
        if (logged.isEmpty()) {
            QCOMPARE(lines, QStringList());
            QFile file(root + u'/' + relative);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), QByteArrayLiteral("report ✓\n"));
        } else {
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines.first().startsWith(logged), qPrintable(lines.first()));
        }
        // Whatever happened, what was there is intact.
        if (setup == u"diagnostics is a file" || setup == u"target is a folder") {
            QFile kept(setup == u"diagnostics is a file" ? root + QStringLiteral("/diagnostics")
                                                          : root + u'/' + relative + QStringLiteral("/inner.txt"));
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), QByteArray("keep"));
        }
        QVERIFY(!QFile::exists(home.dataHome() + QStringLiteral("/kovra/escaped.txt")));
    }
};

QTEST_GUILESS_MAIN(ChecksInTunnelTest)
#include "itst_checks_in_tunnel.moc"
