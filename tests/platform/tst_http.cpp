#include "platform/Http.h"

#include <QTcpServer>
#include <QTemporaryFile>
#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

namespace {

// The URL-error code of an error; 0 for none, 1 for an error of another kind.
int codeOf(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const URLError &e) {
        return e.code();
    } catch (...) {
        return 1;
    }
    return 0;
}

int failureCode(QCoro::Task<HttpResponse> task)
{
    try {
        test::await(std::move(task));
    } catch (...) {
        return codeOf(std::current_exception());
    }
    return 0;
}

QNetworkRequest requestFor(const QUrl &base, const QString &path)
{
    QUrl url = base;
    url.setPath(url.path() + path);
    return QNetworkRequest(url);
}

QUrl closedPortURL()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(port));
}

} // namespace

class HttpTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void everyStatusIsAnAnswer_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("200") << 200 << QByteArray(R"({"ok":true})");
        QTest::newRow("299") << 299 << QByteArray("{}");
        QTest::newRow("199") << 199 << QByteArray(); // a 1xx answer has no body
        QTest::newRow("300") << 300 << QByteArray("choices");
        QTest::newRow("404") << 404 << QByteArray("missing");
        QTest::newRow("500") << 500 << QByteArray("boom");
        QTest::newRow("503 empty") << 503 << QByteArray();
    }
    void everyStatusIsAnAnswer()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        FakeService fake(1);
        FakeReply reply = FakeReply::json(status, body);
        reply.headers = {{"X-Probe", "seen"}};
        fake.script(0, "GET", QStringLiteral("/status"), {reply});
        HttpSession session(HttpSession::Kind::Default, 5s);

        const HttpResponse r = test::await(session.send("GET", requestFor(fake.baseURLs()[0], "/status")));
        QVERIFY(r.isHttp);
        QCOMPARE(r.statusCode, status);
        QCOMPARE(r.body, body);
        QCOMPARE(r.header("x-probe"), QByteArray("seen"));
        QVERIFY(!r.overCap);
    }

    void transportFailures_data()
    {
        QTest::addColumn<QString>("target"); // "fake": the fake host's /slow; "refused": a closed port
        QTest::addColumn<int>("action");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("code");
        const int never = int(FakeReply::Action::NeverAnswer);
        const int close = int(FakeReply::Action::Close);
        QTest::newRow("own time-out") << "fake" << never << 300 << int(URLError::TimedOut);
        QTest::newRow("closed without answer") << "fake" << close << 20000 << int(URLError::NetworkConnectionLost);
        QTest::newRow("refused port") << "refused" << 0 << 20000 << int(URLError::CannotConnectToHost);
        QTest::newRow("unknown host") << "http://kovra-probe.invalid/x" << 0 << 20000 << int(URLError::CannotFindHost);
        QTest::newRow("unknown scheme") << "gopher://127.0.0.1/x" << 0 << 20000 << int(URLError::UnsupportedURL);
    }
    void transportFailures()
    {
        QFETCH(QString, target);
        QFETCH(int, action);
        QFETCH(int, timeoutMs);
        QFETCH(int, code);
        FakeService fake(1);
        FakeReply reply;
        reply.action = FakeReply::Action(action);
        fake.script(0, "GET", QStringLiteral("/slow"), {reply});
        const QUrl url = target == u"fake"      ? requestFor(fake.baseURLs()[0], "/slow").url()
                       : target == u"refused" ? closedPortURL()
                                              : QUrl(target);
        HttpSession session(HttpSession::Kind::Default, std::chrono::milliseconds(timeoutMs));

        QCOMPARE(failureCode(session.send("GET", QNetworkRequest(url))), code);
        if (code == URLError::TimedOut)
            QVERIFY(fake.waitForClosedEarly(1)); // the time-out closed the connection
    }

    void cancellationAbortsTheConnection()
    {
        FakeService fake(1);
        fake.script(0, "GET", QStringLiteral("/slow"), {FakeReply::silent()});
        HttpSession session(HttpSession::Kind::Default, 20s);
        CancellationSource source;
        Pending<HttpResponse> pending(session.send("GET", requestFor(fake.baseURLs()[0], "/slow"), {}, source.token()));
        QVERIFY(fake.waitForRequests(1));
        source.cancel();
        QVERIFY(pending.waitDone());
        QCOMPARE(codeOf(pending.error()), int(URLError::Cancelled));
        // Callers that only ask "was this cancelled?" must see it as a cancellation.
        QVERIFY(isCancellation(pending.error()));
        QVERIFY(fake.waitForClosedEarly(1));
    }

    void cancelledBeforeSendingSendsNothing()
    {
        FakeService fake(1);
        HttpSession session(HttpSession::Kind::Default, 5s);
        CancellationSource source;
        source.cancel();
        QCOMPARE(failureCode(session.send("GET", requestFor(fake.baseURLs()[0], "/x"), {}, source.token())),
                 int(URLError::Cancelled));
        QTest::qWait(50);
        QCOMPARE(fake.requestCount(), 0);
    }

    void bodyCap_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("size");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<bool>("announced");
        QTest::addColumn<bool>("overCap");
        QTest::newRow("exactly the cap") << 200 << 100 << qint64(100) << true << false;
        QTest::newRow("one over, announced") << 200 << 101 << qint64(100) << true << true;
        QTest::newRow("one over, streamed") << 200 << 101 << qint64(100) << false << true;
        QTest::newRow("far over, streamed") << 200 << (4 << 20) << qint64(1000) << false << true;
        QTest::newRow("exactly the cap, streamed") << 200 << 100 << qint64(100) << false << false;
        QTest::newRow("over on an error status") << 500 << 101 << qint64(100) << true << true;
        QTest::newRow("no cap") << 200 << (1 << 20) << qint64(-1) << false << false;
    }
    void bodyCap()
    {
        QFETCH(int, status);
        QFETCH(int, size);
        QFETCH(qint64, cap);
        QFETCH(bool, announced);
        QFETCH(bool, overCap);
        FakeService fake(1);
        FakeReply reply = FakeReply::json(status, QByteArray(size, 'x'));
        reply.announceLength = announced;
        fake.script(0, "GET", QStringLiteral("/big"), {reply});
        HttpSession session(HttpSession::Kind::Default, 10s);

        const HttpResponse r =
            test::await(session.send("GET", requestFor(fake.baseURLs()[0], "/big"), {}, {}, cap));
        QCOMPARE(r.statusCode, status);
        QCOMPARE(r.overCap, overCap);
        if (overCap)
            QVERIFY(r.body.size() <= cap);
        else
            QCOMPARE(r.body.size(), size);
    }

    void answerWithoutHttpIsReportedAsSuch()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write("hello");
        file.close();
        HttpSession session(HttpSession::Kind::Default, 5s);
        const HttpResponse r =
            test::await(session.send("GET", QNetworkRequest(QUrl::fromLocalFile(file.fileName()))));
        QVERIFY(!r.isHttp);
        QCOMPARE(r.body, QByteArray("hello"));
    }
};

QTEST_GUILESS_MAIN(HttpTest)
#include "tst_http.moc"
