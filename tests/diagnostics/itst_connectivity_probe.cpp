#include "diagnostics/ConnectivityProbe.h"
#include "platform/AppGroupContainer.h"

#include <QFile>
#include <QTcpServer>
#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;

// The whole self-test against loopback stand-ins of its public targets.
class ConnectivityProbeLoopbackTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void run()
    {
        TestHome home(TestHome::PathsOnly);
        QTcpServer resolverPort;
        QVERIFY(resolverPort.listen(QHostAddress::LocalHost, 0));
        FakeService fake(1);
        fake.script(0, "GET", QStringLiteral("/cdn-cgi/trace"),
                    {FakeReply::json(200, "fl=29f\nh=1.1.1.1\nip=192.0.2.9\nts=1\nloc=NL\n")});
        fake.script(0, "HEAD", QStringLiteral("/generate_204"), {FakeReply::json(204)});
        const QString base = fake.baseURLs().first().toString();

        ConnectivityProbeOptions options;
        options.targets = {QStringLiteral("127.0.0.1"), resolverPort.serverPort(), QStringLiteral("127.0.0.1"),
                           QStringLiteral("::1"), base + QStringLiteral("/cdn-cgi/trace"),
                           base + QStringLiteral("/generate_204"), QStringLiteral("Local")};
        options.stepTimeout = 5.0;
        const ConnectivityReport report =
            await(ConnectivityProbe::run(std::nullopt, AppGroupContainer(home.paths(), QStringLiteral("group.test")), QDateTime::currentDateTimeUtc(),
                                         options));

        QCOMPARE(report.classification, ConnectivityClassification::allOk);
        QStringList details;
        for (const ConnectivityStep &s : report.steps)
            details << s.detail;
        QCOMPARE(details, (QStringList{"TCP connected", "127.0.0.1", "::1",
                                       "HTTP 200\nfl=29f\nh=1.1.1.1\nip=192.0.2.9\nts=1\nloc=NL", "HTTP 204",
                                       "HTTP 204"}));
        QCOMPARE(report.exitIP, std::optional<QString>(QStringLiteral("192.0.2.9")));
        QCOMPARE(report.exitLoc, std::optional<QString>(QStringLiteral("NL")));
        QFile written(AppGroupContainer(home.paths(), QStringLiteral("group.test")).filePath(QStringLiteral("diagnostics/connectivity-last.txt")));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(written.readAll()), report.plainText());
    }
};

QTEST_GUILESS_MAIN(ConnectivityProbeLoopbackTest)
#include "itst_connectivity_probe.moc"
