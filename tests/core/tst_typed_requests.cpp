#include "core/APIClient.h"
#include "core/AccountReplies.h"

#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"
#include "support/FixedTokenProvider.h"
#include "support/TestHome.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

namespace {

// A small reply record of the tests' own.
struct Profile {
    QString displayName;
    static Profile decode(const JsonDecodingContainer &c) { return {c.decode<QString>("displayName")}; }
};

QString show(const Profile &p)
{
    return p.displayName;
}
QString show(const LoginOut &l)
{
    return l.accessToken + (l.isNew ? QStringLiteral(" new ") : QStringLiteral(" old ")) + l.marzbanUsername.value_or(QStringLiteral("-"));
}
QString show(const InvoiceOut &i)
{
    return i.paymentId + u' ' + i.url;
}

// The record shown as text, or the error: "decoding", "network", or the APIError's
// description ("server 300", "401 unauthorized").
template<class T>
QString outcomeOf(QCoro::Task<T> task)
{
    try {
        return show(test::await(std::move(task)));
    } catch (const APIError &e) {
        switch (e.kind()) {
        case APIError::Kind::decoding:
            return QStringLiteral("decoding");
        case APIError::Kind::network:
            return QStringLiteral("network");
        default:
            return e.description();
        }
    }
}

constexpr qint64 kCap = 1024;

// Valid JSON of exactly `size` bytes: {"display_name":"Ann","pad":"xxx..."}.
QByteArray paddedProfile(int size)
{
    const QByteArray head = "{\"display_name\":\"Ann\",\"pad\":\"";
    const QByteArray tail = "\"}";
    return head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
}

} // namespace

class TypedRequestsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<FakeService> m_fake;
    std::unique_ptr<APIClient> m_client;

private Q_SLOTS:
    void initTestCase()
    {
        m_home = std::make_unique<TestHome>();
        m_fake = std::make_unique<FakeService>();
        qputenv("KOVRA_API_BASE_URLS", m_fake->baseURLsText());
        m_client = std::make_unique<APIClient>(HttpSession::sharedDefault(),
                                               std::make_shared<FixedTokenProvider>(QStringLiteral("tok")),
                                               AppGroupStore(), 100ms, kCap);
    }
    void init() { m_fake->reset(); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void cleanupTestCase()
    {
        m_client.reset();
        m_fake.reset();
        m_home.reset();
    }

    void statusMapping_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<int>("status"); // 0: every host closes the connection
        QTest::addColumn<QString>("outcome");
        QTest::newRow("GET 199") << QByteArray("GET") << 199 << "server 199";
        QTest::newRow("GET 200") << QByteArray("GET") << 200 << "Ann";
        QTest::newRow("GET 299") << QByteArray("GET") << 299 << "Ann";
        QTest::newRow("GET 300") << QByteArray("GET") << 300 << "server 300";
        QTest::newRow("GET 401") << QByteArray("GET") << 401 << "401 unauthorized";
        QTest::newRow("GET 404") << QByteArray("GET") << 404 << "server 404";
        QTest::newRow("GET 409") << QByteArray("GET") << 409 << "409 conflict";
        QTest::newRow("GET 410") << QByteArray("GET") << 410 << "410 gone";
        QTest::newRow("GET 503 everywhere") << QByteArray("GET") << 503 << "server 503";
        QTest::newRow("POST 200") << QByteArray("POST") << 200 << "Ann";
        QTest::newRow("POST 401") << QByteArray("POST") << 401 << "401 unauthorized";
        QTest::newRow("POST 500") << QByteArray("POST") << 500 << "server 500";
        QTest::newRow("POST failing everywhere") << QByteArray("POST") << 0 << "network";
    }
    void statusMapping()
    {
        QFETCH(QByteArray, method);
        QFETCH(int, status);
        QFETCH(QString, outcome);
        const Endpoint endpoint = method == "GET" ? Endpoint::me() : Endpoint::wakeRegion(QStringLiteral("ru-1"));
        // A 1xx answer carries no body; the others carry a profile with an extra key.
        const QByteArray body = status < 200 ? QByteArray() : QByteArray(R"({"display_name":"Ann","extra":[1]})");
        m_fake->script(FakeService::anyHost, method, endpoint.path(),
                       {status ? FakeReply::json(status, body) : FakeReply::close()});
        LogCapture log;

        QCOMPARE(outcomeOf(m_client->send<Profile>(endpoint)), outcome);
        for (const QString &line : log.texts(QStringLiteral("APIClient")))
            QVERIFY2(!line.startsWith(u"decode"), qPrintable(line)); // bodies of error answers are never read
    }

    void replyBodies_data()
    {
        QTest::addColumn<QString>("nonce"); // null: GET /me; else the sign-in poll with it
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("logged"); // how the decode line begins; empty: no line

        const QByteArray deep = QByteArray(100000, '[') + QByteArray(100000, ']');
        QTest::newRow("exactly the cap") << QString() << 200 << paddedProfile(kCap) << "Ann" << QString();
        QTest::newRow("one byte over the cap") << QString() << 200 << paddedProfile(kCap + 1) << "decoding"
                                               << "decode /me → decode dataCorrupted at <root>: The reply body is "
                                                  "larger than 1024 bytes.";
        QTest::newRow("over the cap on an error status")
            << QString() << 404 << paddedProfile(kCap + 1) << "server 404" << QString();
        QTest::newRow("empty") << QString() << 200 << QByteArray() << "decoding"
                               << "decode /me → decode dataCorrupted at <root>: ";
        QTest::newRow("not JSON") << QString() << 200 << QByteArray("<html>oops</html>") << "decoding"
                                  << "decode /me → decode dataCorrupted at <root>: ";
        QTest::newRow("binary") << QString() << 200 << QByteArray("\xff\xfe\x00{", 4) << "decoding"
                                << "decode /me → decode dataCorrupted at <root>: ";
        QTest::newRow("deeply nested") << QString() << 200 << deep.left(kCap / 2) + deep.right(kCap / 2)
                                       << "decoding" << "decode /me → decode dataCorrupted at <root>: ";
        QTest::newRow("missing field") << QString() << 200 << QByteArray(R"({"name":"Ann"})") << "decoding"
                                       << "decode /me → decode keyNotFound displayName at <root>: ";
        QTest::newRow("wrong type") << QString() << 200 << QByteArray(R"({"display_name":5})") << "decoding"
                                    << "decode /me → decode typeMismatch String at <displayName>: ";
        QTest::newRow("poll hides its nonce") << QStringLiteral("n0nce-secret") << 200 << QByteArray() << "decoding"
                                              << "decode /auth/poll/*** → decode dataCorrupted at <root>: ";
    }
    void replyBodies()
    {
        QFETCH(QString, nonce);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        QFETCH(QString, logged);
        const Endpoint endpoint = nonce.isNull() ? Endpoint::me() : Endpoint::poll(nonce);
        m_fake->script(FakeService::anyHost, "GET", endpoint.path(), {FakeReply::json(status, body)});
        LogCapture log;

        QCOMPARE(outcomeOf(m_client->send<Profile>(endpoint)), outcome);
        const QStringList lines = log.texts(QStringLiteral("APIClient"));
        if (logged.isEmpty()) {
            QVERIFY2(lines.isEmpty(), qPrintable(lines.join(u'\n')));
        } else {
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines[0].startsWith(logged), qPrintable(lines[0]));
            QCOMPARE(log.lines(QStringLiteral("APIClient"))[0].level, LogLevel::Error);
        }
        if (!nonce.isNull()) {
            for (const LogLine &line : log.lines())
                QVERIFY(!line.text.contains(nonce));
        }
    }

    void invoiceReplies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("logged"); // a text the decode line must contain
        QTest::newRow("both links") << QByteArray(R"({"payment_id":"p1","invoice_url":"tg:invoice-1","pay_url":"x"})")
                                    << "p1 tg:invoice-1" << QString();
        QTest::newRow("invoice link null") << QByteArray(R"({"payment_id":"p1","invoice_url":null,"pay_url":"ton:pay-2"})")
                                           << "p1 ton:pay-2" << QString();
        QTest::newRow("only pay link") << QByteArray(R"({"payment_id":"p1","pay_url":"ton:pay-2"})") << "p1 ton:pay-2"
                                       << QString();
        QTest::newRow("empty link accepted") << QByteArray(R"({"payment_id":"p1","invoice_url":""})") << "p1 "
                                             << QString();
        QTest::newRow("neither link") << QByteArray(R"({"payment_id":"p1"})") << "decoding"
                                      << "dataCorrupted at <root>: InvoiceOut requires invoice_url or pay_url";
        QTest::newRow("invoice link of another type")
            << QByteArray(R"({"payment_id":"p1","invoice_url":7,"pay_url":"ton:pay-2"})") << "decoding"
            << "typeMismatch String at <invoiceUrl>";
        QTest::newRow("no payment id") << QByteArray(R"({"invoice_url":"tg:invoice-1"})") << "decoding"
                                       << "keyNotFound paymentId";
    }
    void invoiceReplies()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        QFETCH(QString, logged);
        m_fake->script(FakeService::anyHost, "POST", QStringLiteral("/payment/stars/invoice"),
                       {FakeReply::json(200, body)});
        LogCapture log;

        QCOMPARE(outcomeOf(m_client->send<InvoiceOut>(Endpoint::starsInvoice(QStringLiteral("m1")))), outcome);
        const QStringList lines = log.texts(QStringLiteral("APIClient"));
        QCOMPARE(lines.size(), logged.isEmpty() ? 0 : 1);
        if (!logged.isEmpty()) {
            QVERIFY2(lines[0].startsWith(u"decode /payment/stars/invoice → "), qPrintable(lines[0]));
            QVERIFY2(lines[0].contains(logged), qPrintable(lines[0]));
        }
    }

    void loginReplies_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("no user name") << QByteArray(R"({"access_token":"jwt1","is_new":false})") << "jwt1 old -";
        QTest::newRow("null user name") << QByteArray(R"({"access_token":"jwt1","marzban_username":null,"is_new":true})")
                                        << "jwt1 new -";
        QTest::newRow("with user name") << QByteArray(R"({"access_token":"jwt1","marzban_username":"u7","is_new":true})")
                                        << "jwt1 new u7";
        QTest::newRow("no is_new") << QByteArray(R"({"access_token":"jwt1"})") << "decoding";
        QTest::newRow("is_new as text") << QByteArray(R"({"access_token":"jwt1","is_new":"true"})") << "decoding";
        QTest::newRow("no token") << QByteArray(R"({"is_new":true})") << "decoding";
    }
    void loginReplies()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, outcome);
        m_fake->script(FakeService::anyHost, "POST", QStringLiteral("/auth/google/link"), {FakeReply::json(200, body)});
        QCOMPARE(outcomeOf(m_client->send<LoginOut>(Endpoint::googleLink(QStringLiteral("g.id")))), outcome);
    }
};

QTEST_GUILESS_MAIN(TypedRequestsTest)
#include "tst_typed_requests.moc"
