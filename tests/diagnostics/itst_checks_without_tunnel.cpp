#include "diagnostics/ControlPlaneReachability.h"
#include "diagnostics/DiagnosticsUploader.h"
#include "diagnostics/NetworkTriage.h"
#include "diagnostics/RawProbes.h"
#include "platform/Http.h"
#include "platform/TcpConnection.h"

#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QThreadPool>

#include "support/Await.h"
#include "support/FakeDiagRoutes.h"
#include "support/FakeService.h"
#include "support/FixedPathSource.h"
#include "support/ManualClock.h"
#include "support/ScriptedProber.h"

#include "loopback-http/BlastServer.h"

#include <netdb.h>

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

using Hosts = QList<QList<kovra::test::FakeReply>>;
Q_DECLARE_METATYPE(kovra::test::FakeReply)
Q_DECLARE_METATYPE(kovra::ControlPlaneVerdict)
Q_DECLARE_METATYPE(kovra::RawProbeOutcome)

namespace {

const QString kUserAgent = QStringLiteral("KovraS/test (build 7; iOS; sing-box)");
const BodyProbeOptions kQuickBodies{.userAgent = kUserAgent, .idleTimeout = 300ms, .totalTimeout = 5s, .clock = {}};

const QString kControl = QStringLiteral("https://check.test/generate_204");

// An HTTP probe's outcome by letter: a answered 2xx, n answered 404, x no answer.
const QHash<QChar, RawProbeOutcome> kHTTP{
    {u'a', {true, 30, "HTTP 200"}}, {u'n', {false, 30, "HTTP 404"}}, {u'x', {false, 5000, "timeout"}}};

// Steps from "<host>/<name>/<ok 0|1>/<gotResponse 0|1>" texts.
QList<TriageStep> steps(const QStringList &specs)
{
    QList<TriageStep> out;
    for (const QString &spec : specs) {
        const QStringList f = spec.split(u'/');
        out.append({f[0], f[1], f[2] == u"1", 1, QString(), f[3] == u"1"});
    }
    return out;
}

FakeReply answer(const char *body, int status = 200) { return FakeReply::json(status, QByteArray(body)); }

FakeReply trickled(QByteArray body, std::chrono::milliseconds pace)
{
    FakeReply reply = FakeReply::json(200, std::move(body));
    reply.trickle = pace;
    return reply;
}

const TriageReport kReport{QDateTime(QDate(2025, 3, 1), QTime(9, 15), Qt::UTC), NetworkPathType::wifi,
                           {{"api1.test", "echo:1024", true, 80, "HTTP 200, 1024/1024 B, head 35ms, done 80ms", true}},
                           QStringLiteral("все проверки прошли")};

DiagnosticsUploader::Options options(QList<QUrl> baseURLs)
{
    return {.baseURLs = std::move(baseURLs), .userAgent = kUserAgent, .appVersion = "1.2.3 (45)",
            .deviceModel = "Linux / Test OS 1", .sender = nullptr};
}

std::shared_ptr<Resolver> scriptedResolver(AddressLookup answer) { return std::make_shared<Resolver>([answer](const QString &) { return answer; }); }

} // namespace

// The raw probes, the network triage with the upload of its report, and the
// control-plane check: their rules over scripted steps and probes, and the real probes,
// downloads and uploads against loopback hosts, whose own ports stand in for 443.
class ChecksWithoutTunnelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Refused connects (nothing listens on 127.0.0.2) and names that do not resolve
    // wait rather than fail, so they end by the time-out. A name's addresses are tried in order.
    void tcp_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QStringList>("lookup"); // the resolver's answer for a name; empty: it fails
        QTest::addColumn<qint64>("port");        // -1: the listener's port
        QTest::addColumn<double>("timeout");
        QTest::addColumn<RawProbeOutcome>("expected"); // latency -1: whatever it took
        const QStringList none;
        QTest::newRow("listening") << "127.0.0.1" << none << -1ll << 5.0 << RawProbeOutcome{true, -1, "TCP connected"};
        QTest::newRow("refused, fraction dropped")
            << "127.0.0.2" << none << -1ll << 4.5 << RawProbeOutcome{false, 4500, "timeout 4s"};
        QTest::newRow("name, second address listens") << "svc.test" << QStringList{"127.0.0.2", "127.0.0.1"} << -1ll
                                                      << 5.0 << RawProbeOutcome{true, -1, "TCP connected"};
        QTest::newRow("name not found") << "svc.test" << none << -1ll << 2.0 << RawProbeOutcome{false, 2000, "timeout 2s"};
        QTest::newRow("port 0") << "127.0.0.1" << none << 0ll << 5.0 << RawProbeOutcome{false, 0, "invalid port 0"};
        QTest::newRow("port 65536") << "127.0.0.1" << none << 65536ll << 5.0
                                    << RawProbeOutcome{false, 0, "invalid port 65536"};
        QTest::newRow("negative time-out") << "127.0.0.2" << none << -1ll << -3.0 << RawProbeOutcome{false, 0, "timeout 0s"};
        QTest::newRow("NaN time-out") << "127.0.0.2" << none << -1ll << qQNaN() << RawProbeOutcome{false, 0, "timeout 0s"};
    }
    void tcp()
    {
        QFETCH(QString, host);
        QFETCH(QStringList, lookup);
        QFETCH(qint64, port);
        QFETCH(double, timeout);
        QFETCH(RawProbeOutcome, expected);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        if (port == -1)
            port = server.serverPort();
        auto clock = std::make_shared<ManualClock>();
        auto resolver = scriptedResolver({lookup.isEmpty() ? EAI_NONAME : 0, QStringLiteral("no"), lookup});
        Pending<RawProbeOutcome> probe(RawProbes::tcp(host, port, timeout, {clock, resolver}));
        if (expected.latencyMS > 0) {
            // Let the refusal arrive first: it must not end the probe.
            TcpConnection witness(host, quint16(port), resolver);
            witness.start();
            QTRY_COMPARE(witness.state(), TcpConnection::State::waiting);
            QVERIFY(!probe.isDone());
            clock->advance(std::chrono::milliseconds(expected.latencyMS - 1));
            QVERIFY(!probe.isDone());
        }
        clock->advance(expected.ok ? 0ms : 1ms);
        QVERIFY(probe.waitDone());
        RawProbeOutcome outcome = probe.result();
        if (expected.latencyMS < 0)
            expected.latencyMS = outcome.latencyMS;
        QCOMPARE(outcome, expected);
        if (expected.ok) {
            // The winning result closes the connection.
            QTRY_VERIFY(server.hasPendingConnections());
            QTcpSocket *peer = server.nextPendingConnection();
            QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
        }
    }

    void dns_data()
    {
        QTest::addColumn<QString>("host"); // names under .test get the scripted answer
        QTest::addColumn<AddressLookup>("answer");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("detail"); // an expected prefix for the system's failure texts
        const QStringList four{"192.0.2.4", "192.0.2.3", "192.0.2.3", "2001:db8::1"};
        QTest::newRow("IPv4 literal") << "127.0.0.1" << AddressLookup{} << true << "127.0.0.1";
        QTest::newRow("name that fails") << "" << AddressLookup{} << false << "getaddrinfo: ";
        QTest::newRow("zero byte in the name") << QStringLiteral("127.0.0.1\u0000x") << AddressLookup{} << false
                                               << "getaddrinfo: ";
        QTest::newRow("first three in order, duplicates kept")
            << "four.test" << AddressLookup{0, {}, four} << true << "192.0.2.4, 192.0.2.3, 192.0.2.3";
        QTest::newRow("failure text") << "gone.test" << AddressLookup{EAI_NONAME, "Name or service not known", {}}
                                      << false << "getaddrinfo: Name or service not known";
        QTest::newRow("nothing converted") << "empty.test" << AddressLookup{} << false << "no addresses";
    }
    void dns()
    {
        QFETCH(QString, host);
        QFETCH(AddressLookup, answer);
        const bool system = !host.endsWith(u".test");
        QFETCH(bool, ok);
        QFETCH(QString, detail);
        RawProbeEnvironment environment;
        if (!system)
            environment.resolver = scriptedResolver(answer);
        const RawProbeOutcome outcome = await(RawProbes::dns(host, 5.0, environment));
        QCOMPARE(outcome.ok, ok);
        if (system && !ok) {
            QVERIFY2(outcome.detail.startsWith(detail) && outcome.detail.size() > detail.size(), qPrintable(outcome.detail));
        } else {
            QCOMPARE(outcome.detail, detail);
        }
    }

    // A look-up that hangs never holds up the caller's thread: the time-out ends the probe
    // while the look-up still runs on a resolver thread, outside Qt's global pool.
    void hangingLookupEndsByTheTimeout()
    {
        QSemaphore release;
        QThread *lookupThread = nullptr;
        auto clock = std::make_shared<ManualClock>();
        {
            auto resolver = std::make_shared<Resolver>([&](const QString &) {
                lookupThread = QThread::currentThread();
                release.tryAcquire(1, 20000);
                return AddressLookup{0, {}, {"192.0.2.1"}};
            });
            Pending<RawProbeOutcome> probe(RawProbes::dns(QStringLiteral("hang.test"), 2.0, {clock, resolver}));
            QTRY_VERIFY(lookupThread);
            QVERIFY(lookupThread != QThread::currentThread());
            QCOMPARE(QThreadPool::globalInstance()->activeThreadCount(), 0);
            clock->advance(2000ms);
            QVERIFY(probe.waitDone());
            QCOMPARE(probe.result(), (RawProbeOutcome{false, 2000, "timeout 2s"}));
            release.release(); // the late answer is dropped
        }
    }

    // "page": the fake host's page, answering the row's status and body with a Location
    // header; "refused": a closed port; "silent": a path that never answers; "plain": a
    // host that answers a TLS request in plain text. `outcome`: "ok" or "fail", the detail.
    // A body over 1 MiB is cut, its prefix kept. Slow bodies and the silent host run with a
    // 0.5 s time-out and 1.5 s overtime: the time-out bounds each wait, both the whole.
    void https_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("get");
        QTest::addColumn<FakeReply>("page");
        QTest::addColumn<qint64>("prefix");
        QTest::addColumn<QString>("outcome");
        const FakeReply none;
        QTest::newRow("HEAD 301 not followed") << "page" << false << FakeReply::json(301) << 512ll << "fail HTTP 301";
        QTest::newRow("GET prefix trimmed") << "page" << true << FakeReply::json(200, "     hello world") << 10ll
                                            << "ok HTTP 200|hello";
        QTest::newRow("GET prefix cuts a character") << "page" << true << FakeReply::json(200, "ab\xd0\xb6") << 3ll << "ok HTTP 200";
        QTest::newRow("GET negative prefix") << "page" << true << FakeReply::json(200, "x") << -5ll << "ok HTTP 200|";
        QTest::newRow("GET announced 2 MiB") << "page" << true << FakeReply::streamed(200, 2 << 20, false) << 10ll
                                             << "ok HTTP 200|0123456789";
        QTest::newRow("body trickles for 1 s") << "page" << true << trickled("0123456789", 100ms) << 10ll
                                               << "ok HTTP 200|0123456789";
        QTest::newRow("body pauses 1.5 s") << "page" << true << trickled("x", 1500ms) << 10ll << "fail timeout";
        QTest::newRow("body trickles for 3 s") << "page" << true << trickled(QByteArray(30, 'x'), 100ms) << 10ll
                                               << "fail timeout";
        QTest::newRow("not a URL") << "http://exa mple/" << true << none << 0ll << "fail invalid URL";
        QTest::newRow("refused") << "refused" << true << none << 0ll << "fail cannot connect";
        QTest::newRow("silent host") << "silent" << true << none << 0ll << "fail timeout";
        QTest::newRow("TLS answered in plain text") << "plain" << true << none << 0ll << "fail TLS fail";
        QTest::newRow("unknown scheme") << "gopher://127.0.0.1/x" << true << none << 0ll << "fail URLError -1002";
    }
    void https()
    {
        QFETCH(QString, url);
        QFETCH(bool, get);
        QFETCH(FakeReply, page);
        QFETCH(qint64, prefix);
        QFETCH(QString, outcome);
        FakeService fake(1);
        const QString base = fake.baseURLs().first().toString();
        const QByteArray method = get ? "GET" : "HEAD";
        page.headers.append({"Location", base.toUtf8() + "/elsewhere"});
        fake.script(0, method, QStringLiteral("/page"), {page});
        fake.script(0, method, QStringLiteral("/elsewhere"), {FakeReply::json(200, "followed")});
        fake.script(0, method, QStringLiteral("/silent"), {FakeReply::silent()});
        QTcpServer plain;
        QVERIFY(plain.listen(QHostAddress::LocalHost, 0));
        connect(&plain, &QTcpServer::newConnection, &plain,
                [&plain] { plain.nextPendingConnection()->write("HTTP/1.1 400 Bad Request\r\n\r\n"); });
        const double timeout = url == u"silent" || page.trickle > 0ms ? 0.5 : 10.0;
        if (url == u"page" || url == u"silent")
            url = base + u'/' + url;
        else if (url == u"refused")
            url = FakeService::closedPortURL(QStringLiteral("/x")).toString();
        else if (url == u"plain")
            url = QStringLiteral("https://127.0.0.1:%1/x").arg(plain.serverPort());
        const RawProbeOutcome o = await(RawProbes::https(url, get, prefix, QStringLiteral("|"), timeout,
                                                         {.clock = std::make_shared<ManualClock>(), .httpOvertime = 1500ms}));
        QCOMPARE((o.ok ? u"ok "_qs : u"fail "_qs) + o.detail, outcome);
        if (url.endsWith(u"/page")) // one request: a redirect is not followed
            QVERIFY(fake.requestCount() == 1 && fake.requests().first().method == method);
    }

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

        // One request at a time in step order, each step handed on before the next began;
        // bodies are counted as sent.
        for (const RecordedRequest &r : service.requests())
            QVERIFY(r.method == "HEAD" || (r.header("Accept-Encoding") == "identity" && r.header("User-Agent") == kUserAgent.toUtf8()));
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
        QTest::newRow("breaks off mid-stream") << FakeDiagRoutes::echo(65536, 30000) << "200 30000/65536 connection lost";
        QTest::newRow("no stated length") << FakeDiagRoutes::echo(5000, -1, 200, false) << "200 5000/-";
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

    // A host that breaks its body off, sending as fast as it can from threads of its own: the
    // body probe and a GET probe report the lost connection, at once (a wait for the time-out
    // would read "timeout"). Over plain HTTP Qt may end a chunked body cut off as if it were
    // whole, but never makes the probe wait.
    void probesOfABodyCutShort_data()
    {
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<qint64>("sent");
        QTest::addColumn<QStringList>("outlines"); // the body probe's: status, received/expected bytes, error
        QTest::addColumn<QString>("get");          // the GET probe's outcome; empty: not tried
        QTest::newRow("announced, 100 of 1000 B")
            << false << 1000ll << 100ll << QStringList{"200 100/1000 connection lost"} << "fail connection lost";
        QTest::newRow("chunked 2 MB without its last chunk")
            << true << (2ll << 20) << (2ll << 20) << QStringList{"200 2097152/- connection lost", "200 2097152/-"} << "";
    }
    void probesOfABodyCutShort()
    {
        QFETCH(bool, chunked);
        QFETCH(qint64, length);
        QFETCH(qint64, sent);
        QFETCH(QStringList, outlines);
        QFETCH(QString, get);
        loopback::BlastAnswer answer;
        answer.head = "HTTP/1.1 200 OK\r\n"
                    + (chunked ? QByteArray("Transfer-Encoding: chunked") : "Content-Length: " + QByteArray::number(length))
                    + "\r\n\r\n";
        answer.fillerBytes = length;
        answer.sendUpTo = sent;
        answer.chunked = chunked;
        answer.lastChunk = false;
        answer.breakOff = loopback::BreakOff{};
        loopback::BlastServer server(answer);
        QVERIFY(server.isListening());
        const QUrl url = server.url(QStringLiteral("/diag/echo?bytes=1"));

        const TriageBodyOutcome o =
            await(NetworkTriage::bodyProbe(url, {.userAgent = kUserAgent, .idleTimeout = 10s, .totalTimeout = 20s, .clock = {}}));
        const auto text = [](const auto &v) { return v ? QString::number(*v) : QStringLiteral("-"); };
        const QString outline = QStringLiteral("%1 %2/%3 %4").arg(text(o.statusCode)).arg(o.bytesReceived).arg(text(o.expectedBytes), o.error.value_or("")).trimmed();
        QVERIFY2(outlines.contains(outline), qPrintable(outline));
        if (!get.isEmpty()) {
            const RawProbeOutcome g = await(RawProbes::https(url.toString(), true, 10, QStringLiteral("|"), 10.0));
            QCOMPARE((g.ok ? u"ok "_qs : u"fail "_qs) + g.detail, get);
        }
    }

    void summarize_data()
    {
        QTest::addColumn<QStringList>("specs");
        QTest::addColumn<QString>("summary");
        const QStringList a{"a/dns/1/1", "a/tcp/1/1", "a/head/1/1", "a/echo:1024/1/1", "a/config/1/1"}; // a host that works
        QTest::newRow("nothing ran") << QStringList{} << "проверки не выполнялись";
        QTest::newRow("one host works, two fail in order of appearance")
            << QStringList{"c/dns/0/1"} + a + QStringList{"b/dns/1/1", "b/head/0/1", "c/tcp/0/1"}
            << "работает через a; не отвечает c, b";
        QTest::newRow("first answering echo failure counts, no working host")
            << QStringList{"a/echo:1024/0/0", "a/echo:x/0/1", "a/echo:/0/1", "a/echo:99999999999999999999/0/1", "b/echo:1000/0/1", "c/echo:4096/0/1"}
            << "тело ответа обрывается начиная с 1000 Б";
        QTest::newRow("echo failure after a host that works")
            << a + QStringList{"b/head/0/1", "b/echo:+2048/0/1"} << "тело ответа обрывается начиная с 2 КБ, рабочий путь есть: a";
        QTest::newRow("nothing answers") << QStringList{"a/dns/0/1", "a/echo:1024/0/0", "b/tcp/0/1"}
                                         << "ни один хост не отвечает";
    }
    void summarize()
    {
        QFETCH(QStringList, specs);
        QFETCH(QString, summary);
        QCOMPARE(NetworkTriage::summarize(steps(specs)), summary);
    }

    // The configuration URL from a stored subscription URL and preferred entry.
    void configurationURL_data()
    {
        QTest::addColumn<QVariant>("subscription"); // invalid: not stored
        QTest::addColumn<QVariant>("entry");
        QTest::addColumn<QString>("url"); // empty: none
        const QVariant none;
        QTest::newRow("empty") << QVariant("") << none << "";
        QTest::newRow("not a URL") << QVariant("http://exa mple.com/%zz") << none << "";
        QTest::newRow("items replaced, others and encodings kept")
            << QVariant("https://s.test/p%20q/sing_box?entry=old&x=%26y&flag") << QVariant("a&b=c%41")
            << "https://s.test/p%20q/sing_box?x=%26y&flag&caps=awg,vlessenc&entry=a%26b%3Dc%2541";
        QTest::newRow("root path") << QVariant("https://s.test") << none << "https://s.test/sing_box?caps=awg,vlessenc";
    }
    void configurationURL()
    {
        QFETCH(QVariant, subscription);
        QFETCH(QVariant, entry);
        QFETCH(QString, url);
        auto defaults = Defaults::inMemory();
        defaults->setObject(AppGroupKey::subscriptionURL, subscription);
        defaults->setObject(AppGroupKey::preferredEntry, entry);
        const std::optional<QUrl> made = NetworkTriage::configurationURL(*defaults);
        QCOMPARE(made ? made->toString(QUrl::FullyEncoded) : QString(), url);
    }

    // hosts: per host "<dns ok><tcp ok><http letter>", space separated; control: an HTTP letter.
    void verdict_data()
    {
        QTest::addColumn<QString>("hosts");
        QTest::addColumn<QChar>("control");
        QTest::addColumn<ControlPlaneVerdict>("expected");
        using V = ControlPlaneVerdict;
        QTest::newRow("a 404 is an answer, control down") << "00x 11n 00x" << QChar(u'x') << V::reachable;
        QTest::newRow("nothing anywhere") << "00x 00x 00x" << QChar(u'x') << V::noNetwork;
        QTest::newRow("names fail, control answers") << "00x 00x 00x" << QChar(u'a') << V::dnsBlocked;
        QTest::newRow("control 404 counts") << "00x 00x 00x" << QChar(u'n') << V::dnsBlocked;
        QTest::newRow("names resolve, connects fail") << "00x 10x 00x" << QChar(u'a') << V::blackholed;
        QTest::newRow("connect works, no HTTP") << "10x 11x 00x" << QChar(u'a') << V::tlsBlocked;
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
    }

    // Hosts in order; an empty reply list stands for a host that refuses connections.
    void upload_data()
    {
        QTest::addColumn<Hosts>("hosts");
        QTest::addColumn<QString>("result"); // the incident code, or the failure's text
        QTest::addColumn<int>("answered");   // requests that reached the fake
        const QList<FakeReply> refused, good{answer(R"({"ok":true,"incident":"INC-42","extra":[1]})")};
        const char *codeX = R"({"ok":true,"incident":"X"})";
        QTest::newRow("refused, then accepted") << Hosts{refused, good, good} << "INC-42" << 1;
        QTest::newRow("empty incident last, after other failures")
            << Hosts{{answer("", 503)}, {answer(R"({"incident":"X"})")}, {answer(R"({"ok":true,"incident":""})")}}
            << "Сервер не вернул код инцидента" << 3;
        QTest::newRow("reply without ok moves on") << Hosts{{answer(R"({"incident":"X"})")}, good} << "INC-42" << 2;
        QTest::newRow("299 is success") << Hosts{{answer(codeX, 299)}, good} << "X" << 1;
        QTest::newRow("300 with a code is refused") << Hosts{{answer(codeX, 300)}} << "Сервер вернул HTTP 300" << 1;
        QTest::newRow("refused last") << Hosts{{answer("", 500)}, refused} << "cannot connect" << 1;
    }
    void upload()
    {
        QFETCH(Hosts, hosts);
        QFETCH(QString, result);
        QFETCH(int, answered);
        FakeService service(int(hosts.size()));
        QList<QUrl> urls;
        for (qsizetype i = 0; i < hosts.size(); ++i) {
            service.script(int(i), "POST", "/diag", hosts[i]);
            urls << (hosts[i].isEmpty() ? FakeService::closedPortURL() : service.baseURLs()[i]);
        }
        auto defaults = Defaults::inMemory();
        defaults->set(AppGroupKey::preferredEntry, "fi-2");
        defaults->set(AppGroupKey::selectedRegionID, "eu \"north\"");
        QString outcome;
        try {
            outcome = await(DiagnosticsUploader::upload(kReport, AppGroupStore(defaults, nullptr), options(urls)));
        } catch (...) {
            outcome = DiagnosticsUploader::failureText(std::current_exception());
        }
        QCOMPARE(outcome, result);
        QCOMPARE(service.requestCount(), answered);

        // The same anonymous report to every host, with the stored entry and region and a
        // device id made once and kept.
        const QString deviceID = defaults->string(AppGroupKey::deviceID).value_or(QString());
        QVERIFY(!QUuid(deviceID).isNull());
        const QByteArray body = "{\"app_version\":\"1.2.3 (45)\",\"platform\":\"ios\",\"device_model\":\"Linux / Test OS 1\","
                                "\"device_id\":\"" + deviceID.toUtf8() +
                                "\",\"entry\":\"fi-2\",\"region\":\"eu \\\"north\\\"\",\"logs\":\"Kovra S — подробная проверка сети без VPN\\n"
                                "taken_at=2025-03-01T09:15:00Z net=wifi\\nsummary=все проверки прошли\\n"
                                "api1.test echo:1024 ok 80ms HTTP 200, 1024/1024 B, head 35ms, done 80ms\"}";
        for (const RecordedRequest &r : service.requests()) {
            QCOMPARE(r.url.path(), QStringLiteral("/api/diag"));
            QVERIFY(!r.hasHeader("Authorization"));
            QCOMPARE(r.body, body);
        }
    }
};

QTEST_GUILESS_MAIN(ChecksWithoutTunnelTest)
#include "itst_checks_without_tunnel.moc"
