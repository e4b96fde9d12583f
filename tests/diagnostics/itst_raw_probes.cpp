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
#include "support/FakeService.h"
#include "support/ManualClock.h"

#include <netdb.h>
#include <stdexcept>

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::RawProbeOutcome)

namespace {

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

std::shared_ptr<Resolver> scriptedResolver(AddressLookup answer)
{
    return std::make_shared<Resolver>([answer](const QString &) { return answer; });
}

} // namespace

class RawProbesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // "listening" connects to a loopback listener; "refused" to a closed port, which
    // waits rather than fails and so ends by the time-out.
    void tcp_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<qint64>("port"); // -2: the listener's port
        QTest::addColumn<double>("timeout");
        QTest::addColumn<RawProbeOutcome>("expected"); // latency -1: whatever it took
        QTest::newRow("listening port") << "listening" << qint64(-2) << 5.0
                                        << RawProbeOutcome{true, -1, "TCP connected"};
        QTest::newRow("refused port, 5 s") << "refused" << qint64(-2) << 5.0
                                           << RawProbeOutcome{false, 5000, "timeout 5s"};
        QTest::newRow("refused port, fraction dropped") << "refused" << qint64(-2) << 4.5
                                                        << RawProbeOutcome{false, 4500, "timeout 4s"};
        QTest::newRow("port 0") << "listening" << qint64(0) << 5.0 << RawProbeOutcome{false, 0, "invalid port 0"};
        QTest::newRow("port above 65535") << "listening" << qint64(65536) << 5.0
                                          << RawProbeOutcome{false, 0, "invalid port 65536"};
        QTest::newRow("negative time-out") << "refused" << qint64(-2) << -3.0 << RawProbeOutcome{false, 0, "timeout 0s"};
        QTest::newRow("NaN time-out") << "refused" << qint64(-2) << qQNaN() << RawProbeOutcome{false, 0, "timeout 0s"};
    }
    void tcp()
    {
        QFETCH(QString, target);
        QFETCH(qint64, port);
        QFETCH(double, timeout);
        QFETCH(RawProbeOutcome, expected);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        if (port == -2)
            port = target == u"listening" ? server.serverPort() : closedPort();
        auto clock = std::make_shared<ManualClock>();
        Pending<RawProbeOutcome> probe(RawProbes::tcp(QStringLiteral("127.0.0.1"), port, timeout, {clock}));
        if (expected.latencyMS > 0) {
            // Let the refusal arrive first: it must not end the probe.
            TcpConnection witness(QStringLiteral("127.0.0.1"), quint16(port));
            witness.start();
            QTRY_COMPARE(witness.state(), TcpConnection::State::waiting);
            QVERIFY(!probe.isDone());
            clock->advance(std::chrono::milliseconds(expected.latencyMS - 1));
            QVERIFY(!probe.isDone());
            clock->advance(1ms);
        } else if (!expected.ok) {
            clock->advance(0ms);
        }
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
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("system"); // the system resolver, else the scripted answer below
        QTest::addColumn<AddressLookup>("answer");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("detail"); // an expected prefix for the system's failure texts
        const QStringList four{"192.0.2.4", "192.0.2.3", "192.0.2.3", "2001:db8::1"};
        QTest::newRow("IPv4 literal") << "127.0.0.1" << true << AddressLookup{} << true << "127.0.0.1";
        QTest::newRow("IPv6 literal") << "::1" << true << AddressLookup{} << true << "::1";
        QTest::newRow("name that fails") << "" << true << AddressLookup{} << false << "getaddrinfo: ";
        QTest::newRow("first three in order, duplicates kept")
            << "four.test" << false << AddressLookup{0, {}, four} << true << "192.0.2.4, 192.0.2.3, 192.0.2.3";
        QTest::newRow("two addresses") << "two.test" << false << AddressLookup{0, {}, four.mid(2)} << true
                                       << "192.0.2.3, 2001:db8::1";
        QTest::newRow("failure text") << "gone.test" << false
                                      << AddressLookup{EAI_NONAME, "Name or service not known", {}} << false
                                      << "getaddrinfo: Name or service not known";
        QTest::newRow("nothing converted") << "empty.test" << false << AddressLookup{} << false << "no addresses";
    }
    void dns()
    {
        QFETCH(QString, host);
        QFETCH(bool, system);
        QFETCH(AddressLookup, answer);
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

    void https_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("prefix");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("detail");
        QTest::newRow("HEAD 204") << QByteArray("HEAD") << 204 << QByteArray() << qint64(512) << true << "HTTP 204";
        QTest::newRow("HEAD 301 is not followed")
            << QByteArray("HEAD") << 301 << QByteArray() << qint64(512) << false << "HTTP 301";
        QTest::newRow("GET 302 is not followed")
            << QByteArray("GET") << 302 << QByteArray("moved") << qint64(512) << false << "HTTP 302|moved";
        QTest::newRow("GET prefix trimmed")
            << QByteArray("GET") << 200 << QByteArray("     hello world") << qint64(10) << true << "HTTP 200|hello";
        QTest::newRow("GET empty body") << QByteArray("GET") << 200 << QByteArray() << qint64(512) << true << "HTTP 200";
        QTest::newRow("GET prefix cuts a character")
            << QByteArray("GET") << 200 << QByteArray("ab\xd0\xb6") << qint64(3) << true << "HTTP 200";
        QTest::newRow("GET body not UTF-8")
            << QByteArray("GET") << 200 << QByteArray("\xff\xfe") << qint64(512) << true << "HTTP 200";
        QTest::newRow("GET blank body keeps the separator")
            << QByteArray("GET") << 200 << QByteArray(" \n ") << qint64(512) << true << "HTTP 200|";
        QTest::newRow("GET prefix of 0") << QByteArray("GET") << 200 << QByteArray("x") << qint64(0) << true << "HTTP 200|";
        QTest::newRow("GET negative prefix")
            << QByteArray("GET") << 200 << QByteArray("x") << qint64(-5) << true << "HTTP 200|";
        QTest::newRow("GET 500 with text")
            << QByteArray("GET") << 500 << QByteArray("oops\n") << qint64(512) << false << "HTTP 500|oops";
    }
    void https()
    {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(qint64, prefix);
        QFETCH(bool, ok);
        QFETCH(QString, detail);
        FakeService fake(1);
        FakeReply reply = FakeReply::json(status, body);
        reply.headers.append({"Location", fake.baseURLs().first().toString().toUtf8() + "/elsewhere"});
        fake.script(0, method, QStringLiteral("/page"), {reply});
        fake.script(0, method, QStringLiteral("/elsewhere"), {FakeReply::json(200, "followed")});
        const QString url = fake.baseURLs().first().toString() + QStringLiteral("/page");
        const RawProbeOutcome outcome =
            await(RawProbes::https(url, method == "GET", prefix, QStringLiteral("|"), 5.0));
        QCOMPARE(outcome.ok, ok);
        QCOMPARE(outcome.detail, detail);
        QCOMPARE(fake.requestCount(), 1);
        const RecordedRequest request = fake.requests().first();
        QCOMPARE(request.method, method);
        QCOMPARE(request.header("User-Agent"), QByteArray("KovraS-Diagnostics/1.0"));
    }

    void httpsFailures_data()
    {
        // "refused": a closed port; "silent": a host that never answers; "tls": a TLS
        // request to a host that answers in plain text
        QTest::addColumn<QString>("url");
        QTest::addColumn<double>("timeout");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("instant");
        QTest::newRow("empty URL") << "" << 5.0 << "invalid URL" << true;
        QTest::newRow("not a URL") << "http://exa mple/" << 5.0 << "invalid URL" << true;
        QTest::newRow("refused") << "refused" << 5.0 << "cannot connect" << false;
        QTest::newRow("silent host") << "silent" << 0.3 << "timeout" << false;
        QTest::newRow("TLS answered in plain text") << "tls" << 5.0 << "TLS fail" << false;
        QTest::newRow("unknown scheme") << "gopher://127.0.0.1/x" << 5.0 << "URLError -1002" << false;
    }
    void httpsFailures()
    {
        QFETCH(QString, url);
        QFETCH(double, timeout);
        QFETCH(QString, detail);
        QFETCH(bool, instant);
        FakeService fake(1);
        fake.script(0, "GET", QStringLiteral("/silent"), {FakeReply::silent()});
        const QUrl base = fake.baseURLs().first();
        if (url == u"refused")
            url = QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort());
        else if (url == u"silent")
            url = base.toString() + QStringLiteral("/silent");
        QTcpServer plain;
        QVERIFY(plain.listen(QHostAddress::LocalHost, 0));
        connect(&plain, &QTcpServer::newConnection, &plain,
                [&plain] { plain.nextPendingConnection()->write("HTTP/1.1 400 Bad Request\r\n\r\n"); });
        if (url == u"tls")
            url = QStringLiteral("https://127.0.0.1:%1/x").arg(plain.serverPort());
        auto clock = std::make_shared<ManualClock>();
        const RawProbeOutcome outcome = await(RawProbes::https(url, true, 512, QStringLiteral("\n"), timeout, {clock}));
        QCOMPARE(outcome.ok, false);
        QCOMPARE(outcome.detail, detail);
        if (instant)
            QCOMPARE(outcome.latencyMS, 0);
    }

    void describe_data()
    {
        QTest::addColumn<int>("code"); // 0: an error of another kind
        QTest::addColumn<QString>("text");
        QTest::newRow("-1202") << int(URLError::ServerCertificateUntrusted) << "cert untrusted";
        QTest::newRow("-1200") << int(URLError::SecureConnectionFailed) << "TLS fail";
        QTest::newRow("-1009") << int(URLError::NotConnectedToInternet) << "no internet";
        QTest::newRow("-1003") << int(URLError::CannotFindHost) << "DNS fail";
        QTest::newRow("-1001") << int(URLError::TimedOut) << "timeout";
        QTest::newRow("-1005") << int(URLError::NetworkConnectionLost) << "connection lost";
        QTest::newRow("-1004") << int(URLError::CannotConnectToHost) << "cannot connect";
        QTest::newRow("-999") << int(URLError::Cancelled) << "URLError -999";
        QTest::newRow("-1011") << int(URLError::BadServerResponse) << "URLError -1011";
        QTest::newRow("other kind") << 0 << "disk on fire";
    }
    void describe()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        const std::exception_ptr error = code ? std::make_exception_ptr(URLError(URLError::Code(code)))
                                              : std::make_exception_ptr(std::runtime_error("disk on fire"));
        QCOMPARE(RawProbes::describe(error), text);
    }
};

QTEST_GUILESS_MAIN(RawProbesTest)
#include "itst_raw_probes.moc"
