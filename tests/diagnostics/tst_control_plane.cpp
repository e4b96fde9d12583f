#include "diagnostics/ControlPlaneReachability.h"

#include <QTest>

#include "support/Await.h"
#include "support/FixedPathSource.h"
#include "support/ManualClock.h"
#include "support/ScriptedProber.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::ControlPlaneVerdict)

namespace {

const QString kControl = QStringLiteral("https://check.test/generate_204");

// An HTTP probe's outcome by letter: a answered 2xx, n answered 404, r a reply that is
// not HTTP, x no answer.
const QHash<QChar, RawProbeOutcome> kHTTP{{u'a', {true, 30, "HTTP 200"}},
                                          {u'n', {false, 30, "HTTP 404"}},
                                          {u'r', {false, 30, "HTTP -1"}},
                                          {u'x', {false, 5000, "timeout"}}};

} // namespace

class ControlPlaneTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // hosts: per host "<dns ok><tcp ok><http letter>", space separated; control: an HTTP letter.
    void verdict_data()
    {
        QTest::addColumn<QString>("hosts");
        QTest::addColumn<QChar>("control");
        QTest::addColumn<ControlPlaneVerdict>("expected");
        using V = ControlPlaneVerdict;
        QTest::newRow("all answer") << "11a 11a 11a" << QChar(u'a') << V::reachable;
        QTest::newRow("a 404 is an answer, control down") << "00x 11n 00x" << QChar(u'x') << V::reachable;
        QTest::newRow("nothing anywhere") << "00x 00x 00x" << QChar(u'x') << V::noNetwork;
        QTest::newRow("names fail, control answers") << "00x 00x 00x" << QChar(u'a') << V::dnsBlocked;
        QTest::newRow("control 404 counts") << "00x 00x 00x" << QChar(u'n') << V::dnsBlocked;
        QTest::newRow("control not HTTP counts") << "00x" << QChar(u'r') << V::dnsBlocked;
        QTest::newRow("names resolve, connects fail") << "00x 10x 00x" << QChar(u'a') << V::blackholed;
        QTest::newRow("connect works, no HTTP") << "10x 11x 00x" << QChar(u'a') << V::tlsBlocked;
        QTest::newRow("no hosts, control down") << "" << QChar(u'x') << V::noNetwork;
        QTest::newRow("no hosts, control answers") << "" << QChar(u'a') << V::dnsBlocked;
    }
    void verdict()
    {
        QFETCH(QString, hosts);
        QFETCH(QChar, control);
        QFETCH(ControlPlaneVerdict, expected);
        const QStringList behaviours = hosts.split(u' ', Qt::SkipEmptyParts);
        auto prober = std::make_shared<ScriptedProber>();
        QList<QUrl> urls;
        for (int i = 0; i < behaviours.size(); ++i) {
            const QString host = QStringLiteral("h%1.test").arg(i + 1), &b = behaviours[i];
            urls << QUrl("https://" + host + "/api");
            prober->script("dns " + host, {b[0] == u'1', 5, "dns"});
            prober->script("tcp " + host + ":443", {b[1] == u'1', 5, "tcp"});
            prober->script("HEAD https://" + host + "/", kHTTP[b[2]]);
        }
        prober->script("HEAD " + kControl, kHTTP[control]);
        const ControlPlaneReachability::Report report = await(ControlPlaneReachability::run(
            {.baseURLs = urls, .controlURL = kControl, .prober = prober, .pathSources = FixedPathSource::wifi()}));
        QCOMPARE(report.verdict, expected);
        QCOMPARE(ControlPlaneReachability::verdict(report.results, report.controlReachable), expected);
        QCOMPARE(report.controlReachable, control != u'x');
    }

    // Chains run at once, each one probe after another; the report keeps the base-URL
    // order whatever order the chains end in, skips URLs without a host and probes a
    // repeated host again.
    void runAndText()
    {
        auto clock = std::make_shared<ManualClock>(QDateTime(QDate(2025, 3, 1), QTime(9, 15), Qt::UTC));
        auto prober = std::make_shared<ScriptedProber>(clock);
        prober->script("dns h1.test", {true, 12, ""}, 200ms);
        prober->script("dns h2.test", {true, 3, "192.0.2.2"}, 50ms);
        prober->script("dns h3.test", {false, 0, "getaddrinfo: no"}, 100ms);
        prober->script("tcp h2.test:443", {true, 1, "TCP connected"});
        prober->script("tcp h3.test:443", {false, 0, "refused \t"});
        prober->script("HEAD https://h2.test/", {false, 40, "HTTP 503"});
        prober->fallback = {false, 5000, "timeout 5s"};
        const QList<QUrl> urls{QUrl("https://h3.test"), QUrl("mailto:nobody"), QUrl("https://h1.test/v1"),
                               QUrl("https://h2.test"), QUrl("https://h3.test")};
        Pending<ControlPlaneReachability::Report> run(ControlPlaneReachability::run(
            {.baseURLs = urls, .controlURL = kControl, .timeout = 2.5, .prober = prober,
             .pathSources = FixedPathSource::wifi(), .clock = clock}));
        QTRY_COMPARE(prober->calls.size(), 5);
        QCOMPARE(prober->mostInFlight, 5);
        clock->advance(200ms);
        QVERIFY(run.waitDone());
        const ControlPlaneReachability::Report report = run.result();
        QCOMPARE(prober->finished.filter("dns"), (QStringList{"dns h2.test", "dns h3.test", "dns h3.test", "dns h1.test"}));

        QStringList callsOfH2 = prober->calls.filter("h2.test");
        QCOMPARE(callsOfH2, (QStringList{"dns h2.test t=2.5", "tcp h2.test:443 t=2.5",
                                         "HEAD https://h2.test/ prefix=0 sep=«» t=2.5"}));
        QVERIFY(prober->calls.contains("HEAD https://check.test/generate_204 prefix=0 sep=«» t=2.5"));
        QCOMPARE(report.verdict, ControlPlaneVerdict::reachable);
        QCOMPARE(report.plainText(),
                 QStringLiteral("Kovra S — доступ к серверам без VPN\n"
                                "taken_at=2025-03-01T09:15:00Z net=wifi\n"
                                "verdict=reachable Серверы Kovra доступны\n"
                                "h3.test  DNS fail getaddrinfo: no | TCP fail refused | HTTPS fail timeout 5s (5000ms)\n"
                                "h3.test  DNS fail getaddrinfo: no | TCP fail refused | HTTPS fail timeout 5s (5000ms)\n"
                                "h1.test  DNS ok  (12ms) | TCP fail timeout 5s (5000ms) | HTTPS fail timeout 5s (5000ms)\n"
                                "h2.test  DNS ok 192.0.2.2 (3ms) | TCP ok TCP connected (1ms) | HTTPS fail HTTP 503 (40ms)\n"
                                "control=fail"));
        QCOMPARE(report.results[2].rowText(),
                 QStringLiteral("h1.test  DNS ok  | TCP fail timeout 5s | HTTPS fail timeout 5s"));
    }
};

QTEST_GUILESS_MAIN(ControlPlaneTest)
#include "tst_control_plane.moc"
