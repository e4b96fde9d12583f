#include "diagnostics/ControlPlaneReachability.h"

#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"
#include "support/FixedPathSource.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kovra;
using namespace kovra::test;

Q_DECLARE_METATYPE(kovra::ControlPlaneVerdict)

namespace {

// A loopback port that refuses connections: bound (so nobody else takes it) but not listening.
class RefusingPort {
public:
    RefusingPort() : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~RefusingPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    quint16 port() const { return m_port; }

private:
    int m_fd;
    quint16 m_port = 0;
};

} // namespace

// The real probes against loopback hosts: the base URLs' own ports stand in for 443.
class ControlPlaneLoopbackTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void run_data()
    {
        QTest::addColumn<QList<bool>>("listening"); // per host: the fake answers, else a closed port
        QTest::addColumn<ControlPlaneVerdict>("expected");
        QTest::newRow("one host answers 404") << QList<bool>{false, true, false} << ControlPlaneVerdict::reachable;
        QTest::newRow("every port closed") << QList<bool>{false, false} << ControlPlaneVerdict::blackholed;
    }
    void run()
    {
        QFETCH(QList<bool>, listening);
        QFETCH(ControlPlaneVerdict, expected);
        FakeService service;
        service.script(FakeService::anyHost, "HEAD", "/generate_204", {FakeReply::json(204)});
        RefusingPort refusing;
        QVERIFY(refusing.port() != 0);
        QList<QUrl> urls;
        for (qsizetype i = 0; i < listening.size(); ++i)
            urls << (listening[i] ? service.baseURLs()[i] : QUrl(QStringLiteral("http://127.0.0.1:%1/api").arg(refusing.port())));

        const ControlPlaneReachability::Report report = await(ControlPlaneReachability::run(
            {.baseURLs = urls, .followBaseURLs = true,
             .controlURL = service.baseURLs()[0].toString() + QStringLiteral("/generate_204"), .timeout = 0.5,
             .pathSources = FixedPathSource::wifi()}));
        QCOMPARE(report.verdict, expected);
        QVERIFY(report.controlReachable);
        QCOMPARE(report.net, NetworkPathType::wifi);
        QCOMPARE(report.results.size(), listening.size());
        // Every host is 127.0.0.1, so the report keeps the order the chains ended in:
        // the answering hosts before those that wait for their time-outs.
        std::stable_partition(listening.begin(), listening.end(), [](bool up) { return up; });
        for (qsizetype i = 0; i < listening.size(); ++i) {
            const ControlPlaneHostResult &r = report.results[i];
            QCOMPARE(r.host, QStringLiteral("127.0.0.1"));
            QCOMPARE(r.dns, (RawProbeOutcome{true, r.dns.latencyMS, QStringLiteral("127.0.0.1")}));
            QCOMPARE(r.tcp.ok, listening[i]);
            QCOMPARE(r.https.detail, listening[i] ? QStringLiteral("HTTP 404") : QStringLiteral("cannot connect"));
        }
        const QList<RecordedRequest> requests = service.requests();
        const auto headOfRoot = [](const RecordedRequest &r) { return r.method == "HEAD" && r.url.path() == u"/"; };
        QCOMPARE(std::count_if(requests.begin(), requests.end(), headOfRoot), listening.count(true));
    }
};

QTEST_GUILESS_MAIN(ControlPlaneLoopbackTest)
#include "itst_control_plane.moc"
