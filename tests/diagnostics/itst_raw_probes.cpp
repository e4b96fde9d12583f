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

std::shared_ptr<Resolver> scriptedResolver(AddressLookup answer)
{
    return std::make_shared<Resolver>([answer](const QString &) { return answer; });
}

} // namespace

class RawProbesTest : public QObject {
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
        QTest::newRow("refused, 5 s") << "127.0.0.2" << none << -1ll << 5.0 << RawProbeOutcome{false, 5000, "timeout 5s"};
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
        QTest::newRow("IPv6 literal") << "::1" << AddressLookup{} << true << "::1";
        QTest::newRow("name that fails") << "" << AddressLookup{} << false << "getaddrinfo: ";
        QTest::newRow("zero byte in the name") << QStringLiteral("127.0.0.1\u0000x") << AddressLookup{} << false
                                               << "getaddrinfo: ";
        QTest::newRow("first three in order, duplicates kept")
            << "four.test" << AddressLookup{0, {}, four} << true << "192.0.2.4, 192.0.2.3, 192.0.2.3";
        QTest::newRow("two addresses") << "two.test" << AddressLookup{0, {}, four.mid(2)} << true
                                       << "192.0.2.3, 2001:db8::1";
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

    // "page": the fake host's page, which answers with the status, the body and a Location
    // header; "refused": a closed port; "silent": a path that never answers; "plain": a
    // host that answers a TLS request in plain text.
    void https_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("prefix");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("detail");
        const QByteArray get("GET"), head("HEAD");
        QTest::newRow("HEAD 204") << "page" << head << 204 << QByteArray() << 512ll << true << "HTTP 204";
        QTest::newRow("HEAD 301 not followed") << "page" << head << 301 << QByteArray() << 512ll << false << "HTTP 301";
        QTest::newRow("GET 302 not followed") << "page" << get << 302 << QByteArray("moved\n") << 512ll << false
                                              << "HTTP 302|moved";
        QTest::newRow("GET prefix trimmed") << "page" << get << 200 << QByteArray("     hello world") << 10ll << true
                                            << "HTTP 200|hello";
        QTest::newRow("GET empty body") << "page" << get << 200 << QByteArray() << 512ll << true << "HTTP 200";
        QTest::newRow("GET prefix cuts a character") << "page" << get << 200 << QByteArray("ab\xd0\xb6") << 3ll << true
                                                     << "HTTP 200";
        QTest::newRow("GET blank body keeps the separator") << "page" << get << 200 << QByteArray(" \n ") << 512ll
                                                            << true << "HTTP 200|";
        QTest::newRow("GET negative prefix") << "page" << get << 200 << QByteArray("x") << -5ll << true << "HTTP 200|";
        QTest::newRow("empty URL") << "" << get << 0 << QByteArray() << 0ll << false << "invalid URL";
        QTest::newRow("not a URL") << "http://exa mple/" << get << 0 << QByteArray() << 0ll << false << "invalid URL";
        QTest::newRow("refused") << "refused" << get << 0 << QByteArray() << 0ll << false << "cannot connect";
        QTest::newRow("silent host") << "silent" << get << 0 << QByteArray() << 0ll << false << "timeout";
        QTest::newRow("TLS answered in plain text") << "plain" << get << 0 << QByteArray() << 0ll << false << "TLS fail";
        QTest::newRow("unknown scheme") << "gopher://127.0.0.1/x" << get << 0 << QByteArray() << 0ll << false
                                        << "URLError -1002";
    }
    void https()
    {
        QFETCH(QString, url);
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(qint64, prefix);
        QFETCH(bool, ok);
        QFETCH(QString, detail);
        FakeService fake(1);
        const QString base = fake.baseURLs().first().toString();
        FakeReply reply = FakeReply::json(status, body);
        reply.headers.append({"Location", base.toUtf8() + "/elsewhere"});
        fake.script(0, method, QStringLiteral("/page"), {reply});
        fake.script(0, method, QStringLiteral("/elsewhere"), {FakeReply::json(200, "followed")});
        fake.script(0, method, QStringLiteral("/silent"), {FakeReply::silent()});
        QTcpServer plain;
        QVERIFY(plain.listen(QHostAddress::LocalHost, 0));
        connect(&plain, &QTcpServer::newConnection, &plain,
                [&plain] { plain.nextPendingConnection()->write("HTTP/1.1 400 Bad Request\r\n\r\n"); });
        const double timeout = url == u"silent" ? 0.3 : 10.0;
        if (url == u"page" || url == u"silent")
            url = base + u'/' + url;
        else if (url == u"refused")
            url = FakeService::closedPortURL(QStringLiteral("/x")).toString();
        else if (url == u"plain")
            url = QStringLiteral("https://127.0.0.1:%1/x").arg(plain.serverPort());
        auto clock = std::make_shared<ManualClock>();
        const RawProbeOutcome outcome = await(RawProbes::https(url, method == "GET", prefix, QStringLiteral("|"), timeout, {clock}));
        QCOMPARE(outcome.ok, ok);
        QCOMPARE(outcome.detail, detail);
        QCOMPARE(outcome.latencyMS, 0); // timed by the manual clock, which stands still
        if (url.endsWith(u"/page")) {
            QCOMPARE(fake.requestCount(), 1);
            QCOMPARE(fake.requests().first().method, method);
            QCOMPARE(fake.requests().first().header("User-Agent"), QByteArray("KovraS-Diagnostics/1.0"));
        }
    }

    void describe()
    {
        const QList<std::pair<URLError::Code, QString>> table{
            {URLError::ServerCertificateUntrusted, "cert untrusted"}, {URLError::SecureConnectionFailed, "TLS fail"},
            {URLError::NotConnectedToInternet, "no internet"},        {URLError::CannotFindHost, "DNS fail"},
            {URLError::TimedOut, "timeout"},                          {URLError::NetworkConnectionLost, "connection lost"},
            {URLError::CannotConnectToHost, "cannot connect"},        {URLError::Cancelled, "URLError -999"},
            {URLError::BadServerResponse, "URLError -1011"}};
        for (const auto &[code, text] : table)
            QCOMPARE(RawProbes::describe(std::make_exception_ptr(URLError(code))), text);
        QCOMPARE(RawProbes::describe(std::make_exception_ptr(std::runtime_error("disk on fire"))), "disk on fire");
    }
};

QTEST_GUILESS_MAIN(RawProbesTest)
#include "itst_raw_probes.moc"
