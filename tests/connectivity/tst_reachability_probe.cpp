#include "connectivity/AppReachabilityProbe.h"

#include "platform/Log.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

namespace {

QString urlOn(const QUrl &base, const QString &path)
{
    return base.toString() + path;
}

// The product's services, each pointed at its own loopback host under the same path.
QList<ReachabilityService> servicesOn(const FakeService &fake)
{
    QList<ReachabilityService> services = AppReachabilityProbe::services();
    const QList<QUrl> bases = fake.baseURLs();
    for (qsizetype i = 0; i < services.size(); ++i)
        services[i].url = urlOn(bases.at(i % bases.size()), QUrl(services[i].url).path());
    return services;
}

QString pathOf(const ReachabilityService &service)
{
    return QUrl(service.url).path().mid(4); // below "/api"
}

AppReachabilityProbe probeFor(QList<ReachabilityService> services, std::chrono::milliseconds timeout)
{
    AppReachabilityProbe::Options options;
    options.services = std::move(services);
    options.timeout = timeout;
    return AppReachabilityProbe(options);
}

// Answers every request with the given headers and never sends a body: what a server
// does for HEAD.
class HeadOnlyHost : public QTcpServer {
public:
    explicit HeadOnlyHost(QByteArray headers) : m_headers(std::move(headers))
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (socket->readAll().contains("\r\n\r\n"))
                        socket->write("HTTP/1.1 200 OK\r\n" + m_headers + "\r\n");
                });
            }
        });
    }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1/").arg(serverPort()); }

private:
    QByteArray m_headers;
};

} // namespace

class ReachabilityProbeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Any HTTP answer counts, whatever its status; only transport failures do not.
    void statuses_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("reachable");
        const int answer = int(FakeReply::Action::Answer);
        QTest::newRow("200") << answer << 200 << true;
        QTest::newRow("204") << answer << 204 << true;
        QTest::newRow("302 without location") << answer << 302 << true;
        QTest::newRow("404") << answer << 404 << true;
        QTest::newRow("503") << answer << 503 << true;
        QTest::newRow("silent") << int(FakeReply::Action::NeverAnswer) << 0 << false;
        QTest::newRow("closed without answer") << int(FakeReply::Action::Close) << 0 << false;
    }
    void statuses()
    {
        QFETCH(int, action);
        QFETCH(int, status);
        QFETCH(bool, reachable);
        FakeService fake(1);
        const ReachabilityService service{QStringLiteral("Apple"), urlOn(fake.baseURLs().at(0), QStringLiteral("/hotspot-detect.html")), true, true};
        FakeReply reply = FakeReply::json(status);
        reply.action = FakeReply::Action(action);
        fake.script(0, "HEAD", QStringLiteral("/hotspot-detect.html"), {reply});

        const ReachabilitySnapshot snapshot = await(probeFor({service}, 600ms).probe());
        QCOMPARE(snapshot.results.size(), 1);
        QCOMPARE(snapshot.results[0].reachable, reachable);
        QCOMPARE(snapshot.results[0].name, QStringLiteral("Apple"));
        QVERIFY(snapshot.results[0].isGating);
        // Qt sends an idempotent request once more when the connection closes unanswered.
        QVERIFY(fake.requestCount() >= 1);
        const RecordedRequest request = fake.requests().at(0);
        QCOMPARE(request.method, QByteArray("HEAD"));
        QCOMPARE(request.header("User-Agent"), QByteArray("KovraS/1.0"));
    }

    // Headers that announce a body the server never sends are a complete answer to HEAD.
    void headAnswerWithoutBody_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::newRow("length announced") << QByteArray("Content-Length: 1234\r\n");
        QTest::newRow("chunked") << QByteArray("Transfer-Encoding: chunked\r\n");
    }
    void headAnswerWithoutBody()
    {
        QFETCH(QByteArray, headers);
        HeadOnlyHost host(headers);
        const ReachabilitySnapshot snapshot =
            await(probeFor({{QStringLiteral("Meta"), host.url(), true, false}}, 2s).probe());
        QEXPECT_FAIL("chunked", "HttpSession sends HEAD as a custom verb, for which Qt waits for a body", Continue);
        QVERIFY2(snapshot.results.at(0).reachable, "waited for a body that HEAD never has");
    }

    // Targets that are not web URLs are unreachable without any request.
    void unprobeableTargets_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("empty") << QString();
        QTest::newRow("not a URL") << QStringLiteral("http://exa mple.com/%%");
        QTest::newRow("no host") << QStringLiteral("https:///generate_204");
        QTest::newRow("relative") << QStringLiteral("generate_204");
        QTest::newRow("local file") << QStringLiteral("file:///etc/hostname");
        QTest::newRow("other scheme") << QStringLiteral("ftp://127.0.0.1/x");
    }
    void unprobeableTargets()
    {
        QFETCH(QString, url);
        const ReachabilitySnapshot snapshot = await(probeFor({{QStringLiteral("X"), url, true, true}}, 3s).probe());
        QCOMPARE(snapshot.results.size(), 1);
        QVERIFY(!snapshot.results[0].reachable);
    }

    // The answers come in reverse list order; the results still follow the list, and
    // every result carries its own service's flags.
    void resultsFollowTheList()
    {
        FakeService fake(5);
        const QList<ReachabilityService> services = servicesOn(fake);
        for (int i = 0; i < services.size(); ++i) {
            // Microsoft answers with an error status, still reached.
            const int status = services[i].name == u"Microsoft" ? 500 : 204;
            fake.script(i, "HEAD", pathOf(services[i]), {FakeReply::json(status, {}, std::chrono::milliseconds(400 - 80 * i))});
        }

        const ReachabilitySnapshot snapshot = await(probeFor(services, 3s).probe());
        QStringList names;
        for (const ServiceReachability &r : snapshot.results) {
            names << r.name;
            QVERIFY(r.reachable);
            QVERIFY(r.isApp);
        }
        QCOMPARE(names, QStringList({"YouTube", "Apple", "Cloudflare", "Microsoft", "Meta"}));
        QCOMPARE(snapshot.gatingCount(), 3);
        QCOMPARE(snapshot.gatingReachableCount(), 3);
        QVERIFY(!snapshot.results[0].isGating && snapshot.results[1].isGating && !snapshot.results[4].isGating);
        // The slowest (YouTube, 400 ms) took longer than the fastest (Meta, 80 ms).
        QVERIFY(snapshot.results[0].latencyMS > snapshot.results[4].latencyMS);
    }

    // Five silent hosts: the five requests are in flight together, so the pass takes
    // one time-out, not five.
    void silentHostsTakeOneTimeout()
    {
        FakeService fake(5);
        const QList<ReachabilityService> services = servicesOn(fake);
        for (int i = 0; i < services.size(); ++i)
            fake.script(i, "HEAD", pathOf(services[i]), {FakeReply::silent()});
        constexpr auto timeout = 1500ms;
        LogCapture logs;
        QElapsedTimer elapsed;
        elapsed.start();

        Pending<ReachabilitySnapshot> pass(probeFor(services, timeout).probe());
        QVERIFY(fake.waitForRequests(5));
        QVERIFY2(!pass.isDone(), "all five requests must be in flight before any time-out");
        const ReachabilitySnapshot snapshot = pass.result();
        QVERIFY2(elapsed.elapsed() < 2 * timeout.count(), "the requests ran one after another");

        QCOMPARE(snapshot.results.size(), 5);
        for (const ServiceReachability &r : snapshot.results) {
            QVERIFY(!r.reachable);
            QVERIFY2(r.latencyMS >= timeout.count() * 9 / 10, qPrintable(QString::number(r.latencyMS)));
        }
        QCOMPARE(snapshot.reachableCount(), 0);
        QVERIFY(logs.contains(QStringLiteral("reachability: gating 0/3, apps 0/5, all 0/5")));
    }

    // Cancelling the pass ends the requests at once; they count as unreachable.
    void cancelledPass()
    {
        FakeService fake(2);
        QList<ReachabilityService> services = servicesOn(fake).mid(0, 2);
        for (int i = 0; i < services.size(); ++i)
            fake.script(i, "HEAD", pathOf(services[i]), {FakeReply::silent()});
        CancellationSource source;
        Pending<ReachabilitySnapshot> pass(probeFor(services, 60s).probe(source.token()));
        QVERIFY(fake.waitForRequests(2));
        source.cancel();
        QVERIFY(pass.waitDone(10s));
        QCOMPARE(pass.result().reachableCount(), 0);
        QCOMPARE(pass.result().results.size(), 2);
    }

    // The pass keeps its own copy of everything it needs.
    void passOutlivesTheProbe()
    {
        FakeService fake(1);
        const ReachabilityService service{QStringLiteral("Cloudflare"), urlOn(fake.baseURLs().at(0), QStringLiteral("/cdn-cgi/trace")), true, true};
        fake.script(0, "HEAD", QStringLiteral("/cdn-cgi/trace"), {FakeReply::json(200, {}, 100ms)});
        std::optional<Pending<ReachabilitySnapshot>> pass;
        {
            auto probe = std::make_unique<AppReachabilityProbe>(probeFor({service}, 3s));
            pass.emplace(probe->probe());
        }
        QVERIFY(pass->result().results.at(0).reachable);
    }

    void latency_data()
    {
        QTest::addColumn<qint64>("nanoseconds");
        QTest::addColumn<qint64>("ms");
        QTest::newRow("2.9996 s") << qint64(2'999'600'000) << qint64(2999);
        QTest::newRow("just under 1 ms") << qint64(999'999) << qint64(0);
        QTest::newRow("3 s") << qint64(3'000'000'000) << qint64(3000);
        QTest::newRow("negative") << qint64(-5'000'000) << qint64(0);
    }
    void latency()
    {
        QFETCH(qint64, nanoseconds);
        QFETCH(qint64, ms);
        QCOMPARE(AppReachabilityProbe::latencyMilliseconds(std::chrono::nanoseconds(nanoseconds)), ms);
    }
};

QTEST_GUILESS_MAIN(ReachabilityProbeTest)
#include "tst_reachability_probe.moc"
