#include "tunnel/TunnelReplies.h"

#include <QTest>

using namespace kovra;

class TunnelRepliesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusReportDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        const QByteArray base = R"("singboxRunning":false,"recentLogs":[])";
        QTest::newRow("only the required keys") << "{" + base + "}" << true;
        QTest::newRow("nulls leave optionals absent")
            << "{" + base + R"(,"ifaceName":null,"ifaceIndex":null,"lastTunOpenAt":null,"activeOutboundTag":null})" << true;
        QTest::newRow("no recentLogs") << QByteArray(R"({"singboxRunning":true})") << false;
        QTest::newRow("index beyond 32 bits") << "{" + base + R"(,"ifaceIndex":2147483648})" << false;
        QTest::newRow("date with fractions") << "{" + base + R"(,"lastTunOpenAt":"2024-05-01T10:20:30.5Z"})" << false;
        QTest::newRow("date as seconds") << "{" + base + R"(,"lastTunOpenAt":1000})" << false;
    }
    void statusReportDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        JsonDecoder decoder;
        decoder.dateDecoding = DateDecoding::iso8601;
        try {
            QCOMPARE(decoder.decode<TunnelStatusReport>(json), TunnelStatusReport{});
            QVERIFY2(decodes, "decoded");
        } catch (const JsonDecodingError &e) {
            QVERIFY2(!decodes, qPrintable(e.description()));
        }
    }

    void minimalReportEncodesOnlyTheRequiredKeys()
    {
        TunnelStatusReport report;
        report.singboxRunning = true;
        QCOMPARE(JsonEncoder().encode(report), QByteArray(R"({"singboxRunning":true,"recentLogs":[]})"));
    }
};

QTEST_GUILESS_MAIN(TunnelRepliesTest)
#include "tst_tunnel_replies.moc"
