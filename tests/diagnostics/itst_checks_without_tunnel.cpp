#include "diagnostics/ControlPlaneReachability.h"
#include "diagnostics/NetworkTriage.h"

#include <QTest>

#include "support/Await.h"
#include "support/FakeDiagRoutes.h"
#include "support/FakeService.h"
#include "support/FixedPathSource.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)

namespace {

const QString kUserAgent = QStringLiteral("KovraS/test (build 7; iOS; sing-box)");
const BodyProbeOptions kQuickBodies{.userAgent = kUserAgent, .idleTimeout = 300ms, .totalTimeout = 5s, .clock = {}};

} // namespace

// The real probes and downloads against loopback hosts, whose own ports stand in for 443.
class ChecksWithoutTunnelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Host 0 passes everything; host 1's body breaks off at 4096 bytes; host 2 has no
    // root page and its echo answers 404; a refusing host fails everything it tries.
    void triage()
    {
        FakeService service;
        service.script(0, "HEAD", "/", {FakeReply::json(200)});
        service.script(1, "HEAD", "/", {FakeReply::json(204)});
        FakeDiagRoutes::scriptEcho(service, 0, {1024, 4096, 16384, 65536});
        FakeDiagRoutes::scriptEcho(service, 1, {1024, 4096}, 2000);
        FakeDiagRoutes::scriptEcho(service, 2, {1024}, -1, 404);
        for (int host = 0; host < 2; ++host)
            FakeDiagRoutes::scriptConfiguration(service, host, "/sub/abc/sing_box", "{\"outbounds\":[]}");
        auto defaults = Defaults::inMemory();
        defaults->set(AppGroupKey::subscriptionURL, "https://sub.example/sub/abc/?caps=old");
        defaults->set(AppGroupKey::preferredEntry, "fi-2");

        QList<TriageStep> seen;
        QList<int> requestsWhenSeen;
        const auto onStep = [&](const TriageStep &step) {
            seen << step;
            requestsWhenSeen << service.requestCount();
        };
        const TriageReport report = await(NetworkTriage::run(
            AppGroupStore(defaults, nullptr), onStep,
            {.baseURLs = service.baseURLs() + QList<QUrl>{QUrl("mailto:x"), FakeService::closedPortURL()}, .followBaseURLs = true,
             .probeTimeout = 0.3, .body = kQuickBodies, .pathSources = FixedPathSource::wifi()}));

        QCOMPARE(report.steps, seen);
        QCOMPARE(report.net, NetworkPathType::wifi);
        QString outline;
        for (const TriageStep &s : report.steps)
            outline += QStringLiteral("%1 %2%3, ").arg(s.name, s.ok ? "ok" : "fail", s.gotResponse ? "" : " -");
        QCOMPARE(outline, QStringLiteral("dns ok, tcp ok, head ok, echo:1024 ok, echo:4096 ok, echo:16384 ok, "
                                         "echo:65536 ok, config ok, "
                                         "dns ok, tcp ok, head ok, echo:1024 ok, echo:4096 fail, config ok, "
                                         "dns ok, tcp ok, head fail, echo:1024 fail, config fail, "
                                         "dns ok, tcp fail, head fail, echo:1024 fail -, config fail -, "));
        // Every host is 127.0.0.1, so none of them passed everything.
        QCOMPARE(report.summary, QStringLiteral("тело ответа обрывается начиная с 4 КБ"));
        QVERIFY(report.steps[12].detail.startsWith("HTTP 200, 2000/4096 B, head "));
        QVERIFY(report.steps[12].detail.endsWith(", error connection lost"));
        QVERIFY(report.steps.last().detail.startsWith("no HTTP response, 0/unknown B, done "));

        // One request at a time in step order, each step handed on before the next began.
        QStringList requests;
        for (const RecordedRequest &r : service.requests()) {
            requests << QStringLiteral("%1 %2 %3").arg(r.host).arg(QString::fromLatin1(r.method), r.url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority));
            QVERIFY(r.method == "HEAD" || (r.header("Accept-Encoding") == "identity" && r.header("User-Agent") == kUserAgent.toUtf8()));
        }
        const QString echo = QStringLiteral("GET /api/diag/echo?bytes=");
        const QString config = QStringLiteral("GET /sub/abc/sing_box?caps=awg,vlessenc&entry=fi-2");
        QCOMPARE(requests, (QStringList{"0 HEAD /", "0 " + echo + "1024", "0 " + echo + "4096", "0 " + echo + "16384",
                                        "0 " + echo + "65536", "0 " + config, "1 HEAD /", "1 " + echo + "1024",
                                        "1 " + echo + "4096", "1 " + config, "2 HEAD /", "2 " + echo + "1024", "2 " + config}));
        QCOMPARE(requestsWhenSeen.mid(2, 6), (QList<int>{1, 2, 3, 4, 5, 6}));

        // No subscription URL: no config steps; no usable base URL: no steps at all.
        const TriageReport bare = await(NetworkTriage::runSequence(
            AppGroupStore(Defaults::inMemory(), nullptr), {},
            {.baseURLs = {service.baseURLs()[2], QUrl("file:///tmp/x")}, .followBaseURLs = true, .probeTimeout = 0.3,
             .body = kQuickBodies, .pathSources = FixedPathSource::wifi()}));
        QCOMPARE(bare.steps.last().name, QStringLiteral("echo:1024"));
        
    }

    void bodyProbe_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QString>("outline"); // status, received/expected bytes, error
        QTest::newRow("complete") << FakeDiagRoutes::echo(65536) << "200 65536/65536";
        QTest::newRow("breaks off mid-stream") << FakeDiagRoutes::echo(65536, 30000) << "200 30000/65536 connection lost";
        QTest::newRow("no stated length") << FakeDiagRoutes::echo(5000, -1, 200, false) << "200 5000/-";
        QTest::newRow("404 with a body") << FakeDiagRoutes::echo(10, -1, 404) << "404 10/10";
        QTest::newRow("closed without an answer") << FakeReply::close() << "- 0/- connection lost";
        QTest::newRow("silent") << FakeReply::silent() << "- 0/- timeout";
    }
    void bodyProbe()
    {
        QFETCH(FakeReply, reply);
        QFETCH(QString, outline);
        FakeService service(1);
        service.script(0, "GET", "/diag/echo", {reply});
        const QUrl url(service.baseURLs()[0].toString() + QStringLiteral("/diag/echo?bytes=1"));
        const TriageBodyOutcome o = await(NetworkTriage::bodyProbe(url, kQuickBodies));
        const auto text = [](const auto &v) { return v ? QString::number(*v) : QStringLiteral("-"); };
        QCOMPARE(QStringLiteral("%1 %2/%3 %4").arg(text(o.statusCode)).arg(o.bytesReceived).arg(text(o.expectedBytes), o.error.value_or("")).trimmed(),
                 outline);
        QCOMPARE(o.headMS.has_value(), o.statusCode.has_value());
        QVERIFY(o.elapsedMS >= o.headMS.value_or(0));
    }

    // The control-plane check with the real probes: a host that answers 404 makes the
    // servers reachable; with every port refusing, names resolve but nothing connects.
    void controlPlane()
    {
        FakeService service(1);
        service.script(0, "HEAD", "/generate_204", {FakeReply::json(204)});
        ControlPlaneOptions options{.baseURLs = {FakeService::closedPortURL(), service.baseURLs()[0]}, .followBaseURLs = true,
                                    .controlURL = service.baseURLs()[0].toString() + "/generate_204", .timeout = 0.3,
                                    .prober = {}, .pathSources = FixedPathSource::wifi(), .clock = {}};
        const ControlPlaneReachability::Report up = await(ControlPlaneReachability::run(options));
        QCOMPARE(up.verdict, ControlPlaneVerdict::reachable);
        QVERIFY(up.controlReachable);
        // Both hosts are 127.0.0.1: the report keeps the order their chains ended in.
        QCOMPARE(up.results[0].rowText().section(u'|', 1), QStringLiteral(" TCP ok TCP connected | HTTPS fail HTTP 404"));
        QCOMPARE(up.results[1].rowText(),
                 QStringLiteral("127.0.0.1  DNS ok 127.0.0.1 | TCP fail timeout 0s | HTTPS fail cannot connect"));

        options.baseURLs = {FakeService::closedPortURL()};
        const ControlPlaneReachability::Report down = await(ControlPlaneReachability::run(options));
        QCOMPARE(down.verdict, ControlPlaneVerdict::blackholed);
    }
};

QTEST_GUILESS_MAIN(ChecksWithoutTunnelTest)
#include "itst_checks_without_tunnel.moc"
