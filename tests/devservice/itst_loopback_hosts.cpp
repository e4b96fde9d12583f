// The loopback hosts' answers as a client reads them off the wire: the framing of
// whole and streamed bodies, and where a broken-off body ends.

#include <QTest>

#include "devservice/WireRead.h"
#include "loopback-http/LoopbackHosts.h"

using namespace kovra::loopback;
using namespace kovra::test;

class LoopbackHostsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void framing_data()
    {
        QTest::addColumn<bool>("announce");
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<qint64>("streamed"); // -1: the answer's own body "abc"
        QTest::addColumn<qint64>("sendUpTo");
        QTest::addColumn<qint64>("received");
        QTest::addColumn<bool>("complete");
        QTest::newRow("whole, announced") << true << false << -1ll << 0ll << 3ll << true;
        QTest::newRow("whole, chunked") << false << true << -1ll << 0ll << 3ll << true;
        QTest::newRow("whole, until the close") << false << false << -1ll << 0ll << 3ll << true;
        QTest::newRow("streamed, announced") << true << false << 300'000ll << 300'000ll << 300'000ll << true;
        QTest::newRow("streamed, chunked") << false << true << 300'000ll << 300'000ll << 300'000ll << true;
        QTest::newRow("streamed, until the close") << false << false << 300'000ll << 300'000ll << 300'000ll << true;
        QTest::newRow("streamed empty, chunked") << false << true << 0ll << 0ll << 0ll << true;
        QTest::newRow("announced, broken off") << true << false << 200'000ll << 70'000ll << 70'000ll << false;
        QTest::newRow("chunked, broken off") << false << true << 200'000ll << 70'000ll << 70'000ll << false;
    }
    void framing()
    {
        QFETCH(bool, announce);
        QFETCH(bool, chunked);
        QFETCH(qint64, streamed);
        QFETCH(qint64, sendUpTo);
        QFETCH(qint64, received);
        QFETCH(bool, complete);
        LoopbackHosts hosts([&](const Request &, Exchange *exchange) {
            RawResponse response;
            response.status = 299;
            response.announceLength = announce;
            response.chunked = chunked;
            response.body = "abc";
            if (streamed < 0)
                exchange->respond(response);
            else
                exchange->stream(response, streamed, sendUpTo);
        });
        QVERIFY(hosts.listen({1}));
        const WireRead read = readOffTheWire(hosts.ports().first(), "/api/x");
        QCOMPARE(read.body.size(), received);
        QVERIFY(!read.body.contains('\r')); // no framing leaked into the body
        QCOMPARE(read.complete, complete);
        if (!complete)
            QVERIFY(read.closed);
    }
};

QTEST_GUILESS_MAIN(LoopbackHostsTest)
#include "itst_loopback_hosts.moc"
