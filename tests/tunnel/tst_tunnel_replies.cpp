#include "tunnel/TunnelReplies.h"

#include <QTest>

using namespace kovra;

namespace {
JsonDecoder statusDecoder()
{
    JsonDecoder d;
    d.dateDecoding = DateDecoding::iso8601;
    return d;
}
} // namespace

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
        QTest::newRow("no singboxRunning") << QByteArray(R"({"recentLogs":[]})") << false;
        QTest::newRow("no recentLogs") << QByteArray(R"({"singboxRunning":true})") << false;
        QTest::newRow("index beyond 32 bits") << "{" + base + R"(,"ifaceIndex":2147483648})" << false;
        QTest::newRow("date with fractions") << "{" + base + R"(,"lastTunOpenAt":"2024-05-01T10:20:30.5Z"})" << false;
        QTest::newRow("date as seconds") << "{" + base + R"(,"lastTunOpenAt":1000})" << false;
    }
    void statusReportDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        try {
            const auto report = statusDecoder().decode<TunnelStatusReport>(json);
            QVERIFY2(decodes, "decoded");
            QCOMPARE(report, TunnelStatusReport{});
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

    void selectRegionResponse_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<bool>("applied");
        QTest::addColumn<QString>("member");
        QTest::newRow("applied only") << QByteArray(R"({"applied":false})") << true << false << QString();
        QTest::newRow("with member") << QByteArray(R"({"applied":true,"selectedMember":"de-1"})") << true << true << "de-1";
        QTest::newRow("no applied") << QByteArray(R"({"selectedMember":"de-1"})") << false << false << QString();
    }
    void selectRegionResponse()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(bool, applied);
        QFETCH(QString, member);
        try {
            const auto response = JsonDecoder().decode<TunnelSelectRegionResponse>(json);
            QVERIFY(decodes);
            QCOMPARE(response.applied, applied);
            QCOMPARE(response.selectedMember.value_or(QString()), member);
            QCOMPARE(response.selectedMember.has_value(), !member.isEmpty());
        } catch (const JsonDecodingError &e) {
            QVERIFY2(!decodes, qPrintable(e.description()));
        }
    }
};

QTEST_GUILESS_MAIN(TunnelRepliesTest)
#include "tst_tunnel_replies.moc"
