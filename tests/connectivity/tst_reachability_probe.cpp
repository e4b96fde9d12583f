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

// The product's services, each on its own loopback host (or all on host 0) under the
// same path, answering as `reply` says.
QList<ReachabilityService> servicesOn(FakeService &fake, const std::function<FakeReply(int)> &reply)
{
    QList<ReachabilityService> services = AppReachabilityProbe::services();
    for (int i = 0; i < services.size(); ++i) {
        const int host = i < fake.baseURLs().size() ? i : 0;
        fake.script(host, "HEAD", QUrl(services[i].url).path(), {reply(i)});
        services[i].url = fake.baseURLs().at(host).toString() + QUrl(services[i].url).path();
    }
    return services;
}

AppReachabilityProbe probeFor(QList<ReachabilityService> services, std::chrono::milliseconds timeout)
{
    return AppReachabilityProbe({.services = std::move(services), .timeout = timeout});
}

} // namespace

class ReachabilityProbeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Any HTTP answer counts, whatever its status; transport failures and targets that
    // are not web URLs (never requested) do not.
    void statuses_data()
    {
        QTest::addColumn<QString>("url"); // empty: the fake host
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("reachable");
        const int answer = int(FakeReply::Action::Answer);
        QTest::newRow("204") << "" << answer << 204 << true;
        QTest::newRow("404") << "" << answer << 404 << true;
        QTest::newRow("silent") << "" << int(FakeReply::Action::NeverAnswer) << 0 << false;
        QTest::newRow("closed without answer") << "" << int(FakeReply::Action::Close) << 0 << false;
        QTest::newRow("not a URL") << "http://exa mple.com/%%" << answer << 200 << false;
        QTest::newRow("local file") << "file:///etc/hostname" << answer << 200 << false;
    }
    void statuses()
    {
        QFETCH(QString, url);
        QFETCH(int, action);
        QFETCH(int, status);
        FakeService fake(1);
        FakeReply reply = FakeReply::json(status);
        reply.action = FakeReply::Action(action);
        ReachabilityService service = servicesOn(fake, [&](int) { return reply; }).at(1);
        if (!url.isEmpty())
            service.url = url;

        const ReachabilitySnapshot snapshot = await(probeFor({service}, 600ms).probe());
        QCOMPARE(snapshot.results.size(), 1);
        QTEST(snapshot.results[0].reachable, "reachable");
        QCOMPARE(fake.requestCount() > 0, url.isEmpty());
        if (url.isEmpty()) {
            QCOMPARE(fake.requests().at(0).method, QByteArray("HEAD"));
            QCOMPARE(fake.requests().at(0).header("User-Agent"), QByteArray("KovraS/1.0"));
        }
    }

    // Headers that announce a body the server never sends are a whole answer to HEAD.
    void headAnswerWithoutBody_data()
    {
        QTest::addColumn<QByteArray>("headers");
        QTest::newRow("length announced") << QByteArray("Content-Length: 1234\r\n");
        QTest::newRow("chunked") << QByteArray("Transfer-Encoding: chunked\r\n");
    }
    void headAnswerWithoutBody()
    {
        QFETCH(QByteArray, headers);
        QTcpServer host;
        QVERIFY(host.listen(QHostAddress::LocalHost, 0));
        connect(&host, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = host.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket, headers] {
                if (socket->readAll().contains("\r\n\r\n"))
                    socket->write("HTTP/1.1 200 OK\r\n" + headers + "\r\n");
            });
        });
        const QString url = QStringLiteral("http://127.0.0.1:%1/").arg(host.serverPort());
        const ReachabilitySnapshot snapshot = await(probeFor({{QStringLiteral("Meta"), url, true, false}}, 2s).probe());
        QVERIFY(snapshot.results.at(0).reachable);
    }

    // The answers come in reverse list order; the results still follow the list, each
    // with its own service's flags.
    void resultsFollowTheList()
    {
        FakeService fake(5);
        const auto services = servicesOn(fake, [](int i) { return FakeReply::json(200, {}, std::chrono::milliseconds(400 - 80 * i)); });

        const ReachabilitySnapshot snapshot = await(probeFor(services, 3s).probe());
        QStringList names;
        for (const ServiceReachability &r : snapshot.results)
            names << r.name + (r.isGating ? "*" : "") + (r.reachable ? "" : "?");
        QCOMPARE(names, QStringList({"YouTube", "Apple*", "Cloudflare*", "Microsoft*", "Meta"}));
        QVERIFY(snapshot.results[0].latencyMS > snapshot.results[4].latencyMS);
    }

    // Five silent hosts: all five requests are in flight together, so the pass takes one
    // time-out, not five.
    void silentHostsTakeOneTimeout()
    {
        FakeService fake(5);
        const auto services = servicesOn(fake, [](int) { return FakeReply::silent(); });
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
        for (const ServiceReachability &r : snapshot.results)
            QVERIFY(!r.reachable && r.latencyMS >= timeout.count() * 9 / 10);
        QVERIFY(logs.contains(QStringLiteral("reachability: gating 0/3, apps 0/5, all 0/5")));
    }

    void latency()
    {
        QCOMPARE(AppReachabilityProbe::latencyMilliseconds(2'999'600'000ns), 2999);
        QCOMPARE(AppReachabilityProbe::latencyMilliseconds(999'999ns), 0);
        QCOMPARE(AppReachabilityProbe::latencyMilliseconds(-5ms), 0);
    }
};

QTEST_GUILESS_MAIN(ReachabilityProbeTest)
#include "tst_reachability_probe.moc"
