#include "diagnostics/ConnectivityProbe.h"
#include "diagnostics/TunnelStatusSource.h"
#include "platform/AppGroupContainer.h"
#include "platform/Async.h"
#include "tunnel/TunnelController.h"
#include "tunnel/TunnelEnvironment.h"

#include <QFile>
#include <QTest>

#include "support/Await.h"
#include "support/FixedStatusSource.h"
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
// and records the calls and how many overlapped.
class ScriptedProber final : public RawProber {
public:
    QList<RawProbeOutcome> outcomes;
    QStringList calls;
    int inFlight = 0;
    int mostInFlight = 0;

    QCoro::Task<RawProbeOutcome> tcp(QString host, qint64 port, double timeout) override
    {
        return answer(QStringLiteral("tcp %1 %2 %3").arg(host).arg(port).arg(timeout));
    }
    QCoro::Task<RawProbeOutcome> dns(QString host, double timeout) override
    {
        return answer(QStringLiteral("dns %1 %2").arg(host).arg(timeout));
    }
    QCoro::Task<RawProbeOutcome> https(QString url, bool get, qint64 prefix, QString separator, double timeout) override
    {
        return answer(QStringLiteral("%1 %2 %3 %4 %5")
                          .arg(get ? u"GET" : u"HEAD", url)
                          .arg(prefix)
                          .arg(separator.toUtf8().toPercentEncoding(), QString::number(timeout)));
    }

private:
    QCoro::Task<RawProbeOutcome> answer(QString call)
    {
        calls << call;
        const qsizetype index = calls.size() - 1;
        mostInFlight = qMax(mostInFlight, ++inFlight);
        co_await sleepFor(0ms);
        --inFlight;
        co_return outcomes.value(index);
    }
};

} // namespace

class ConnectivityProbeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The six results as "TCGSHB" flags (TCP, the two look-ups, the trace GET, the check
    // HEAD, the control HEAD); the control never counts.
    void run_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<ConnectivityClassification>("expected");
        QTest::addColumn<bool>("withStatus"); // a status report with 3 skipped binds of 40
        using C = ConnectivityClassification;
        QTest::newRow("everything fails") << "000000" << C::tunnelNotCarrying << false;
        QTest::newRow("only the control answers") << "000001" << C::tunnelNotCarrying << true;
        QTest::newRow("only TCP fails") << "011111" << C::tcpFail << false;
        QTest::newRow("TCP fails, one look-up works") << "001000" << C::tcpFail << true;
        QTest::newRow("TCP fails, the check answers") << "000010" << C::tcpFail << false;
        QTest::newRow("look-ups fail, HTTPS answers") << "100111" << C::dnsFail << true;
        QTest::newRow("look-ups fail, nothing answers") << "100000" << C::dnsFail << false;
        QTest::newRow("trace fails, check answers") << "110011" << C::allOk << true;
        QTest::newRow("trace answers, checks fail") << "101100" << C::allOk << false;
        QTest::newRow("first look-up fails, HTTPS fails") << "101000" << C::tlsFail << true;
        QTest::newRow("HTTPS fails, the control answers") << "111001" << C::tlsFail << false;
        QTest::newRow("all but the control") << "111110" << C::allOk << true;
        QTest::newRow("all") << "111111" << C::allOk << false;
    }
    void run()
    {
        QFETCH(QString, flags);
        QFETCH(ConnectivityClassification, expected);
        QFETCH(bool, withStatus);
        TestHome home(TestHome::PathsOnly);
        auto prober = std::make_shared<ScriptedProber>();
        for (int i = 0; i < 6; ++i)
            prober->outcomes << RawProbeOutcome{flags[i] == u'1', 10 * (i + 1), QStringLiteral("detail %1").arg(i)};
        // The trace page is read whether or not its step passed.
        prober->outcomes[3].detail = QStringLiteral("HTTP 403\nip=198.51.100.7\nloc=FI");
        const QDateTime started(QDate(2025, 3, 5), QTime(12, 0, 1), Qt::UTC);
        LogCapture capture;

        ConnectivityProbeOptions options;
        options.prober = prober;
        std::optional<TunnelStatusReport> status;
        if (withStatus)
            status = TunnelStatusReport{.autoDetectSkippedBinds = 3, .autoDetectTotalCalls = 40};
        const ConnectivityReport report = await(ConnectivityProbe::run(status, AppGroupContainer(home.paths(), kGroup), started, options));

        QCOMPARE(report.classification, expected);
        QCOMPARE(report.timestamp, started);
        QCOMPARE(report.exitIP, std::optional<QString>(QStringLiteral("198.51.100.7")));
        QCOMPARE(report.exitLoc, std::optional<QString>(QStringLiteral("FI")));
        QCOMPARE(report.autoDetectSkippedBinds, withStatus ? std::optional<quint64>(3) : std::nullopt);
        QCOMPARE(report.autoDetectTotalCalls, withStatus ? std::optional<quint64>(40) : std::nullopt);
        QCOMPARE(prober->mostInFlight, 1);
        QCOMPARE(prober->calls, (QStringList{"tcp 1.1.1.1 443 5", "dns cloudflare.com 5", "dns google.com 5",
                                             "GET https://1.1.1.1/cdn-cgi/trace 512 %0A 5",
                                             "HEAD https://www.google.com/generate_204 512 %0A 5",
                                             "HEAD https://www.google.com/generate_204 512 %0A 5"}));
        QStringList steps;
        for (const ConnectivityStep &s : report.steps) {
            QVERIFY(!s.id.isNull() && (steps.isEmpty() || s.id != report.steps[steps.size() - 1].id));
            QCOMPARE((RawProbeOutcome{s.ok, s.latencyMS, s.detail}), prober->outcomes[steps.size()]);
            steps << rawValue(s.layer) + u' ' + s.name;
        }
        QCOMPARE(steps, (QStringList{"tcp TCP 1.1.1.1:443", "dns DNS cloudflare.com", "dns DNS google.com",
                                     "tls TLS+HTTP 1.1.1.1/cdn-cgi/trace", "http HTTP Google generate_204",
                                     "baseline Baseline generate_204 (control)"}));
        QCOMPARE(capture.texts(QStringLiteral("ConnectivityProbe")),
                 (QStringList{"connectivity self-test: starting",
                              QStringLiteral("connectivity self-test: ") + rawValue(expected)}));
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
        QTest::newRow("trace page") << "HTTP 200\nfl=29f\nh=1.1.1.1\nip=203.0.113.5\nts=1.2\nloc=NL\ntls=TLSv1.3"
                                    << both("203.0.113.5", "NL");
        QTest::newRow("later line wins") << "ip=192.0.2.1\nip=192.0.2.2" << both("192.0.2.2", nullptr);
        QTest::newRow("empty value keeps the earlier") << "ip=192.0.2.1\nip=  \t\nloc=" << both("192.0.2.1", nullptr);
        QTest::newRow("blanks around lines and values") << "  \tloc= SE \t\n ip=\t2001:db8::7 " << both("2001:db8::7", "SE");
        QTest::newRow("every line break")
            << QStringLiteral("a\r\nip=1\u2028loc=A\u0085x\vip=2\floc=B\u2029y\rz") << both("2", "B");
        QTest::newRow("no such lines") << "HTTP 502\nbad gateway" << both(nullptr, nullptr);
        QTest::newRow("prefixes must open the line") << "xip=1\nIP=2\nloc =3\n ip=4 5" << both("4 5", nullptr);
        QTest::newRow("error text") << "timeout" << both(nullptr, nullptr);
    }
    void parseTrace()
    {
        QFETCH(QString, text);
        QFETCH(Trace, expected);
        QCOMPARE(ConnectivityProbe::parseTrace(text), expected);
    }

    void plainText_data()
    {
        QTest::addColumn<ConnectivityReport>("report");
        QTest::addColumn<QString>("text");
        ConnectivityReport full;
        full.timestamp = QDateTime(QDate(2025, 3, 5), QTime(9, 7, 3, 250), Qt::OffsetFromUTC, 3 * 3600);
        full.classification = ConnectivityClassification::allOk;
        full.exitIP = QStringLiteral("203.0.113.5");
        full.exitLoc = QStringLiteral("NL");
        full.autoDetectSkippedBinds = 3;
        full.autoDetectTotalCalls = 40;
        full.steps = {{{}, ConnectivityLayer::tcp, "TCP 1.1.1.1:443", true, 12, "TCP connected"},
                      {{}, ConnectivityLayer::tls, "TLS+HTTP 1.1.1.1/cdn-cgi/trace", false, 5000, "HTTP 200\nip=203.0.113.5"},
                      {{}, ConnectivityLayer::baseline, "Baseline generate_204 (control)", true, 1234567, ""}};
        const QString rule(56, QChar(0x2500));
        QTest::newRow("everything") << full
                                    << QStringLiteral("Kovra S — connectivity self-test\n"
                                                      "timestamp=2025-03-05T06:07:03Z\n"
                                                      "classification=allOk — Всё ОК — трафик идёт через туннель\n"
                                                      "exitIP=203.0.113.5\n"
                                                      "exitLoc=NL\n"
                                                      "autoDetectSkippedBinds=3 / total=40  (гипотеза A: skippedBinds=3)\n") +
                                           rule +
                                           QStringLiteral("\n[OK ] [tcp] TCP 1.1.1.1:443 — 12ms\n"
                                                          "       TCP connected\n"
                                                          "[FAIL] [tls] TLS+HTTP 1.1.1.1/cdn-cgi/trace — 5000ms\n"
                                                          "       HTTP 200\nip=203.0.113.5\n"
                                                          "[OK ] [baseline] Baseline generate_204 (control) — 1234567ms\n");
        ConnectivityReport bare;
        bare.timestamp = QDateTime(QDate(2025, 1, 2), QTime(3, 4, 5), Qt::UTC);
        bare.classification = ConnectivityClassification::tunnelNotCarrying;
        bare.exitLoc = QStringLiteral("DE");
        bare.autoDetectTotalCalls = 40;
        QTest::newRow("total without skipped binds, location only")
            << bare
            << QStringLiteral("Kovra S — connectivity self-test\ntimestamp=2025-01-02T03:04:05Z\n"
                              "classification=tunnelNotCarrying — Туннель не несёт трафик — ничего не проходит "
                              "(таймаут на всех слоях)\nexitLoc=DE\n") +
                   rule + u'\n';
        ConnectivityReport skippedOnly = bare;
        skippedOnly.classification = ConnectivityClassification::unknown;
        skippedOnly.exitLoc.reset();
        skippedOnly.autoDetectTotalCalls.reset();
        skippedOnly.autoDetectSkippedBinds = 0;
        QTest::newRow("skipped binds without total")
            << skippedOnly
            << QStringLiteral("Kovra S — connectivity self-test\ntimestamp=2025-01-02T03:04:05Z\n"
                              "classification=unknown — Не удалось классифицировать\n"
                              "autoDetectSkippedBinds=0  (гипотеза A: skippedBinds=0)\n") +
                   rule + u'\n';
    }
    void plainText()
    {
        QFETCH(ConnectivityReport, report);
        QFETCH(QString, text);
        QCOMPARE(report.plainText(), text);
    }

    // Every way to have no status report ends in none, never in an error.
    void statusReportOrNone()
    {
        TestHome home(TestHome::PathsOnly);
        FixedStatusSource failing;
        FixedStatusSource answering;
        answering.report = TunnelStatusReport{};
        answering.report->autoDetectSkippedBinds = 7;
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
};

QTEST_GUILESS_MAIN(ConnectivityProbeTest)
#include "tst_connectivity_probe.moc"
