#include "core/APIClient.h"
#include "core/AccountReplies.h"

#include <QTest>

#include "support/Await.h"
#include "support/ErrorText.h"
#include "support/FakeService.h"
#include "support/FixedTokenProvider.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::Endpoint)
Q_DECLARE_METATYPE(kovra::test::FakeReply)

namespace {

// A small reply record of the tests' own.
struct Profile {
    QString displayName;
    static Profile decode(const JsonDecodingContainer &c) { return {c.decode<QString>("displayName")}; }
};

QString show(const Profile &p) { return p.displayName; }
QString show(const InvoiceOut &i) { return i.paymentId + u' ' + i.url; }

// The record shown as text, or the error's text.
template<class T>
QString outcomeOf(QCoro::Task<T> task)
{
    try {
        return show(test::await(std::move(task)));
    } catch (...) {
        return errorText(std::current_exception());
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

    std::unique_ptr<FakeService> m_fake;
    std::unique_ptr<HttpSession> m_session;
    std::unique_ptr<APIClient> m_client;

private Q_SLOTS:
    void initTestCase()
    {
        m_fake = std::make_unique<FakeService>();
        m_session = std::make_unique<HttpSession>(HttpSession::Kind::Default, 10s);
        m_client = std::make_unique<APIClient>(APIClient::Sessions{m_session.get(), m_session.get()}, m_fake->baseURLs(),
                                               std::make_shared<FixedTokenProvider>(QStringLiteral("tok")),
                                               AppGroupStore(Defaults::inMemory(), nullptr),
                                               APIClient::Options{100ms, kCap});
    }
    void init() { m_fake->reset(); }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void cleanupTestCase()
    {
        m_client.reset();
        m_session.reset();
        m_fake.reset();
    }

    // GET endpoints decode a Profile, POST ones an InvoiceOut. `logged` lists how each
    // of the client's log lines begins; a decode line is an error.
    void send_data()
    {
        QTest::addColumn<Endpoint>("endpoint");
        QTest::addColumn<FakeReply>("reply"); // given by every host
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QStringList>("logged");

        const Endpoint me = Endpoint::me(), invoice = Endpoint::starsInvoice(QStringLiteral("m1"));
        // Profiles carry an extra key; a 1xx answer carries no body.
        const auto profile = [](int status) {
            return FakeReply::json(status, status < 200 ? "" : R"({"display_name":"Ann","extra":[1]})");
        };
        const auto answer = [](const char *body) { return FakeReply::json(200, body); };
        const QString corrupted = QStringLiteral("decode /me → decode dataCorrupted at <root>: ");
        const QString failed = QStringLiteral("API host 127.0.0.1 failed (-1005); trying next");

        // Status mapping; bodies of error answers are never read.
        QTest::newRow("199") << me << profile(199) << "server 199" << QStringList();
        QTest::newRow("299") << me << profile(299) << "Ann" << QStringList();
        QTest::newRow("300") << me << profile(300) << "server 300" << QStringList();
        // The race takes a 401 as its answer; the typed request makes it an error.
        QTest::newRow("401") << me << profile(401) << "401 unauthorized" << QStringList();
        QTest::newRow("POST 500") << invoice << FakeReply::json(500, "{}") << "server 500" << QStringList();
        QTest::newRow("POST failing everywhere") << invoice << FakeReply::close() << "network -1005"
                                                 << QStringList(3, failed);
        // Reply bodies.
        QTest::newRow("exactly the cap") << me << FakeReply::json(200, paddedProfile(kCap)) << "Ann" << QStringList();
        QTest::newRow("one byte over the cap") << me << FakeReply::json(200, paddedProfile(kCap + 1)) << "decoding"
                                               << QStringList{corrupted + "The reply body is larger than 1024 bytes."};
        QTest::newRow("not JSON") << me << answer("<html>oops</html>") << "decoding" << QStringList{corrupted};
        QTest::newRow("wrong type") << me << answer(R"({"display_name":5})") << "decoding"
                                    << QStringList{"decode /me → decode typeMismatch String at <displayName>: "};
        QTest::newRow("poll hides its nonce") << Endpoint::poll(QStringLiteral("n0nce-secret")) << answer("")
                                              << "decoding"
                                              << QStringList{"decode /auth/poll/*** → decode dataCorrupted at <root>: "};
        // Invoices: "invoice_url" wins, "pay_url" stands in for a null one, one of them is required.
        QTest::newRow("both links") << invoice << answer(R"({"payment_id":"p1","invoice_url":"tg:invoice-1","pay_url":"x"})")
                                    << "p1 tg:invoice-1" << QStringList();
        QTest::newRow("invoice link null")
            << invoice << answer(R"({"payment_id":"p1","invoice_url":null,"pay_url":"ton:pay-2"})") << "p1 ton:pay-2"
            << QStringList();
        QTest::newRow("neither link") << invoice << answer(R"({"payment_id":"p1"})") << "decoding"
                                      << QStringList{"decode /payment/stars/invoice → decode dataCorrupted at <root>: "
                                                     "InvoiceOut requires invoice_url or pay_url"};
    }
    void send()
    {
        QFETCH(Endpoint, endpoint);
        QFETCH(FakeReply, reply);
        QFETCH(QString, outcome);
        QFETCH(QStringList, logged);
        m_fake->script(FakeService::anyHost, endpoint.method(), endpoint.path(), {reply});
        LogCapture log;

        QCOMPARE(endpoint.method() == "GET" ? outcomeOf(m_client->send<Profile>(endpoint))
                                            : outcomeOf(m_client->send<InvoiceOut>(endpoint)),
                 outcome);
        const QList<LogLine> lines = log.lines(QStringLiteral("APIClient"));
        QCOMPARE(lines.size(), logged.size());
        for (int i = 0; i < lines.size(); ++i) {
            QVERIFY2(lines[i].text.startsWith(logged[i]), qPrintable(lines[i].text));
            if (logged[i].startsWith(u"decode"))
                QCOMPARE(lines[i].level, LogLevel::Error);
        }
        for (const LogLine &line : log.lines())
            QVERIFY(!line.text.contains(u"n0nce-secret"));
    }
};

QTEST_GUILESS_MAIN(TypedRequestsTest)
#include "tst_typed_requests.moc"
