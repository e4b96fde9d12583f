#include "diagnostics/DiagnosticsUploader.h"

#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"

using namespace kovra;
using namespace kovra::test;

Q_DECLARE_METATYPE(kovra::test::FakeReply)

namespace {

const QString kUserAgent = QStringLiteral("KovraS/test (build 7; iOS; sing-box)");

FakeReply answer(const char *body, int status = 200)
{
    return FakeReply::json(status, QByteArray(body));
}

const TriageReport kReport{QDateTime(QDate(2025, 3, 1), QTime(9, 15), Qt::UTC), NetworkPathType::wifi,
                           {{"api1.test", "echo:1024", true, 80, "HTTP 200, 1024/1024 B, head 35ms, done 80ms", true}},
                           QStringLiteral("все проверки прошли")};

DiagnosticsUploader::Options options(QList<QUrl> baseURLs)
{
    return {.baseURLs = std::move(baseURLs), .userAgent = kUserAgent, .appVersion = "1.2.3 (45)",
            .deviceModel = "Linux / Test OS 1", .sender = nullptr};
}

} // namespace

class DiagnosticsUploadTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Hosts in order; an empty reply list stands for a host that refuses connections.
    void upload_data()
    {
        QTest::addColumn<QList<QList<FakeReply>>>("hosts");
        QTest::addColumn<QString>("result"); // the incident code, or the failure's text
        QTest::addColumn<int>("answered");   // requests that reached the fake
        const QList<FakeReply> refused;
        const QList<FakeReply> good{answer("{\"ok\":true,\"incident\":\"INC-42\",\"extra\":[1]}")};
        QTest::newRow("refused, then accepted") << QList<QList<FakeReply>>{refused, good, good} << "INC-42" << 1;
        QTest::newRow("every host 500") << QList<QList<FakeReply>>{{answer("", 500)}, {answer("", 500)}, {answer("", 500)}}
                                        << "Сервер вернул HTTP 500" << 3;
        QTest::newRow("empty incident last, after other failures")
            << QList<QList<FakeReply>>{{answer("", 503)}, {answer("{\"incident\":\"X\"}")},
                                       {answer("{\"ok\":true,\"incident\":\"\"}")}}
            << "Сервер не вернул код инцидента" << 3;
        QTest::newRow("reply without ok moves on") << QList<QList<FakeReply>>{{answer("{\"incident\":\"X\"}")}, good}
                                                   << "INC-42" << 2;
        QTest::newRow("ok false with a code, null code")
            << QList<QList<FakeReply>>{{answer("{\"ok\":false,\"incident\":\"X\"}")}, {answer("{\"ok\":true,\"incident\":null}")}}
            << "Сервер не вернул код инцидента" << 2;
        const char *codeX = "{\"ok\":true,\"incident\":\"X\"}";
        QTest::newRow("299 is success") << QList<QList<FakeReply>>{{answer(codeX, 299)}, good} << "X" << 1;
        QTest::newRow("300 with a code is refused") << QList<QList<FakeReply>>{{answer(codeX, 300)}}
                                                    << "Сервер вернул HTTP 300" << 1;
        QTest::newRow("refused last") << QList<QList<FakeReply>>{{answer("", 500)}, refused} << "cannot connect" << 1;
        QTest::newRow("no base URLs") << QList<QList<FakeReply>>{} << "cannot connect" << 0;
    }
    void upload()
    {
        QFETCH(QList<QList<FakeReply>>, hosts);
        QFETCH(QString, result);
        QFETCH(int, answered);
        FakeService service(int(hosts.size()));
        QList<QUrl> urls;
        for (qsizetype i = 0; i < hosts.size(); ++i) {
            service.script(int(i), "POST", "/diag", hosts[i]);
            urls << (hosts[i].isEmpty() ? FakeService::closedPortURL() : service.baseURLs()[i]);
        }
        auto defaults = Defaults::inMemory();
        QString outcome;
        try {
            outcome = await(DiagnosticsUploader::upload(kReport, AppGroupStore(defaults, nullptr), options(urls)));
        } catch (...) {
            outcome = DiagnosticsUploader::failureText(std::current_exception());
        }
        QCOMPARE(outcome, result);
        QCOMPARE(service.requestCount(), answered);

        const QString deviceID = defaults->string(AppGroupKey::deviceID).value_or(QString());
        QVERIFY(!QUuid(deviceID).isNull());
        const QByteArray body = "{\"app_version\":\"1.2.3 (45)\",\"platform\":\"ios\",\"device_model\":\"Linux / Test OS 1\","
                                "\"device_id\":\"" + deviceID.toUtf8() +
                                "\",\"entry\":\"\",\"region\":\"\",\"logs\":\"Kovra S — подробная проверка сети без VPN\\n"
                                "taken_at=2025-03-01T09:15:00Z net=wifi\\nsummary=все проверки прошли\\n"
                                "api1.test echo:1024 ok 80ms HTTP 200, 1024/1024 B, head 35ms, done 80ms\"}";
        for (const RecordedRequest &r : service.requests()) {
            QCOMPARE(r.method, QByteArray("POST"));
            QCOMPARE(r.url.path(), QStringLiteral("/api/diag"));
            QVERIFY(!r.hasHeader("Authorization"));
            QCOMPARE(r.header("Content-Type"), QByteArray("application/json"));
            QCOMPARE(r.header("User-Agent"), kUserAgent.toUtf8());
            QCOMPARE(r.body, body);
        }
    }

    // The stored entry, region and device id go into the body as they are.
    void payloadFromStore()
    {
        auto defaults = Defaults::inMemory();
        defaults->set(AppGroupKey::preferredEntry, "fi-2");
        defaults->set(AppGroupKey::selectedRegionID, "eu \"north\"");
        defaults->set(AppGroupKey::deviceID, "DEV-1");
        AppGroupStore store(defaults, nullptr);
        const DiagnosticsUploadPayload p = DiagnosticsUploader::payload(kReport, store, {});
        QCOMPARE(p.deviceID, QStringLiteral("DEV-1"));
        QVERIFY(JsonEncoder().encode(p).contains("\"entry\":\"fi-2\",\"region\":\"eu \\\"north\\\"\",\"logs\":"));
    }
};

QTEST_GUILESS_MAIN(DiagnosticsUploadTest)
#include "itst_diagnostics_upload.moc"
