#include "platform/Http.h"

#include <QElapsedTimer>
#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"

#include "loopback-http/BlastServer.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)

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

QNetworkRequest requestFor(const QUrl &base, const QString &path)
{
    QUrl url = base;
    url.setPath(url.path() + path);
    return QNetworkRequest(url);
}

// A complete JSON object padded with spaces to `size` bytes: its first bytes still decode.
QByteArray paddedJson(qint64 size)
{
    return QByteArray("{}") + QByteArray(size - 2, ' ');
}

} // namespace

class HttpTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    // Every way a request ends without an answer, a time-out never early: "cancel" cancels before sending or once the
    // server has the request, or destroys the session then; a body Qt fails to decode is no
    // answer either, whatever the status.
    void failures_data()
    {
        QTest::addColumn<QString>("target"); // "fake": the fake host's /x; "refused": a closed port
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<QString>("cancel");
        QTest::addColumn<int>("code");
        const FakeReply silent = FakeReply::silent();
        FakeReply undecodable = FakeReply::json(200, QByteArray("not gzip at all, not even close"));
        undecodable.headers = {{"Content-Encoding", "gzip"}};
        QTest::newRow("own time-out") << "fake" << silent << 300 << "" << int(URLError::TimedOut);
        QTest::newRow("closed without answer") << "fake" << FakeReply::close() << 20000 << "" << int(URLError::NetworkConnectionLost);
        QTest::newRow("undecodable body") << "fake" << undecodable << 20000 << "" << int(URLError::CannotDecodeContentData);
        QTest::newRow("refused port") << "refused" << silent << 20000 << "" << int(URLError::CannotConnectToHost);
        // Names under .invalid never resolve (RFC 6761): refused without asking any resolver.
        QTest::newRow("unknown host") << "http://kovra-probe.invalid/x" << silent << 20000 << "" << int(URLError::CannotFindHost);
        QTest::newRow("cancelled in flight") << "fake" << silent << 20000 << "in flight" << int(URLError::Cancelled);
        QTest::newRow("cancelled before sending") << "fake" << silent << 20000 << "before" << int(URLError::Cancelled);
        QTest::newRow("session destroyed in flight") << "fake" << silent << 20000 << "destroy" << int(URLError::Cancelled);
    }
    void failures()
    {
        QFETCH(QString, target);
        QFETCH(FakeReply, reply);
        QFETCH(int, timeoutMs);
        QFETCH(QString, cancel);
        QFETCH(int, code);
        FakeService fake(1);
        fake.script(0, "GET", QStringLiteral("/x"), {reply});
        const QUrl url = target == u"fake"      ? requestFor(fake.baseURLs()[0], "/x").url()
                       : target == u"refused" ? FakeService::closedPortURL(QStringLiteral("/x"))
                                              : QUrl(target);
        auto session = std::make_unique<HttpSession>(HttpSession::Kind::Default, std::chrono::milliseconds(timeoutMs));
        CancellationSource source;
        if (cancel == u"before")
            source.cancel();
        QElapsedTimer elapsed;
        elapsed.start();
        Pending<HttpResponse> pending(session->send("GET", QNetworkRequest(url), {}, source.token()));
        if (cancel == u"in flight" || cancel == u"destroy") {
            QVERIFY(fake.waitForRequests(1));
            if (cancel == u"destroy")
                session.reset();
            else
                source.cancel();
        }
        QVERIFY(pending.waitDone(5s));
        QCOMPARE(codeOf(pending.error()), code);
        QVERIFY2(code != URLError::TimedOut || elapsed.elapsed() >= timeoutMs, qPrintable(QString::number(elapsed.elapsed())));
        // Callers that only ask "was this cancelled?" must see a cancellation as one.
        QCOMPARE(isCancellation(pending.error()), code == URLError::Cancelled);
        if (cancel == u"before") {
            QTest::qWait(50);
            QCOMPARE(fake.requestCount(), 0);
        } else if (code == URLError::TimedOut || code == URLError::Cancelled) {
            QVERIFY(fake.waitForClosedEarly(1)); // the server sees the connection closed
        }
    }

    // Any status is an answer; a body over the cap is cut and flagged, whether its length is
    // announced or it streams until the connection closes.
    void answers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("announced");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<bool>("overCap");
        const QByteArray hundred(100, 'x');
        QTest::newRow("199") << 199 << QByteArray() << true << qint64(-1) << false; // a 1xx answer has no body
        QTest::newRow("401 within the cap") << 401 << QByteArray("denied") << true << qint64(100) << false;
        QTest::newRow("exactly the cap") << 200 << hundred << true << qint64(100) << false;
        QTest::newRow("one over, announced") << 200 << hundred + 'x' << true << qint64(100) << true;
        QTest::newRow("one over, streamed") << 200 << hundred + 'x' << false << qint64(100) << true;
        QTest::newRow("over on an error status") << 500 << hundred + 'x' << true << qint64(100) << true;
        QTest::newRow("no cap, streamed") << 200 << QByteArray(1 << 20, 'x') << false << qint64(-1) << false;
    }
    void answers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, announced);
        QFETCH(qint64, cap);
        QFETCH(bool, overCap);
        FakeService fake(1);
        FakeReply reply = FakeReply::json(status, body);
        reply.headers = {{"X-Probe", "seen"}};
        reply.announceLength = announced;
        fake.script(0, "GET", QStringLiteral("/x"), {reply});
        HttpSession session(HttpSession::Kind::Default, 10s);

        const HttpResponse r = test::await(session.send("GET", requestFor(fake.baseURLs()[0], "/x"), {}, {}, cap));
        QVERIFY(r.isHttp);
        QCOMPARE(r.statusCode, status);
        QCOMPARE(r.header("x-probe"), QByteArray("seen"));
        QCOMPARE(r.overCap, overCap);
        if (overCap)
            QVERIFY(r.body.size() <= cap);
        else
            QCOMPARE(r.body, body);
    }

    // Qt sends a request once more when its connection closes before any answer. On a
    // connection opened for the request the first cut-off ends the request at once (the
    // resend Qt has already written is cut off by the client); on a kept-alive connection,
    // which the server may have closed just as the request went out, Qt's resend goes ahead
    // and its own outcome counts.
    void connectionCutBeforeAnswer_data()
    {
        QTest::addColumn<QList<FakeReply>>("replies"); // for the requests on /x in order
        QTest::addColumn<bool>("warmUp");              // a first request leaves a kept-alive connection
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("requests"); // seen by the server, the warm-up included
        QTest::addColumn<int>("cutByClient");
        const FakeReply ok = FakeReply::json(200, "{}"), cut = FakeReply::close(800ms);
        QTest::newRow("fresh connection") << QList{cut} << false << int(URLError::NetworkConnectionLost) << 2 << 1;
        QTest::newRow("kept-alive connection, resend answered")
            << QList{ok, FakeReply::close(), ok} << true << 0 << 3 << 0;
        QTest::newRow("kept-alive connection, resend cut too")
            << QList{ok, FakeReply::close(), cut} << true << int(URLError::NetworkConnectionLost) << 3 << 0;
    }
    void connectionCutBeforeAnswer()
    {
        QFETCH(QList<FakeReply>, replies);
        QFETCH(bool, warmUp);
        QFETCH(int, code);
        QFETCH(int, requests);
        QFETCH(int, cutByClient);
        FakeService fake(1);
        fake.script(0, "GET", QStringLiteral("/x"), replies);
        HttpSession session(HttpSession::Kind::Default, 20s);
        const QNetworkRequest request = requestFor(fake.baseURLs()[0], "/x");
        if (warmUp)
            QCOMPARE(test::await(session.send("GET", request)).statusCode, 200);

        Pending<HttpResponse> pending(session.send("GET", request));
        QVERIFY(pending.waitDone());
        QCOMPARE(codeOf(pending.error()), code);
        QVERIFY(fake.waitForRequests(requests));
        QTest::qWait(100);
        const auto recorded = fake.requests();
        QCOMPARE(recorded.size(), requests);
        QCOMPARE(std::count_if(recorded.begin(), recorded.end(), [](const auto &r) { return r.closedEarly; }),
                 cutByClient);
    }

    // A POST redirected within its origin (307) goes to the new place once, with its body;
    // an answer cut there after its status line is a lost connection like any other cut.
    void redirectedPost_data()
    {
        QTest::addColumn<FakeReply>("second");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("status");
        const QByteArray statusLine = "HTTP/1.1 201 Created\r\n";
        QTest::newRow("answered") << FakeReply::json(201, "{}") << 0 << 201;
        QTest::newRow("cut after the status line by FIN")
            << FakeReply::broken(statusLine) << int(URLError::NetworkConnectionLost) << 0;
        QTest::newRow("cut after the status line by reset")
            << FakeReply::broken(statusLine, {loopback::BreakOff::How::Reset, {}}) << int(URLError::NetworkConnectionLost)
            << 0;
    }
    void redirectedPost()
    {
        QFETCH(FakeReply, second);
        QFETCH(int, code);
        QFETCH(int, status);
        FakeService fake(1);
        FakeReply moved = FakeReply::json(307);
        moved.headers = {{"Location", fake.baseURLs()[0].path().toUtf8() + "/b"}};
        fake.script(0, "POST", QStringLiteral("/a"), {moved});
        fake.script(0, "POST", QStringLiteral("/b"), {second});
        QNetworkRequest request = requestFor(fake.baseURLs()[0], "/a");
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
        HttpSession session(HttpSession::Kind::Default, 20s);

        Pending<HttpResponse> pending(session.send("POST", request, QByteArray("{\"plan\":1}")));
        QVERIFY(pending.waitDone());
        QCOMPARE(codeOf(pending.error()), code);
        if (!code)
            QCOMPARE(pending.result().statusCode, status);
        QTest::qWait(50);
        const auto recorded = fake.requests();
        QCOMPARE(recorded.size(), 2);
        QCOMPARE(recorded[1].path, QStringLiteral("/b"));
        QCOMPARE(recorded[1].body, QByteArray("{\"plan\":1}"));
    }

    // An answer whose body stops short of its announced length is a lost connection whatever
    // the point of the cut, by FIN or by reset, and at once (the session's own time-out lies
    // far beyond the test's wait). A chunked body cut off ends the wait too, however large:
    // over plain HTTP Qt may end such a reply as if it were whole (it reports the cut over
    // TLS), but it must never wait for the time-out. The host sends as fast as it can from
    // threads of its own; three requests run at once, each row several times, since which
    // cuts Qt lets through depends on timing.
    void bodiesCutShort_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<qint64>("sent");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<int>("closeAfterMs"); // from the last byte sent to the cut
        constexpr qint64 mb = 1 << 20;
        QTest::newRow("100 of 1000 B, FIN") << QByteArray("GET") << false << qint64(1000) << qint64(100) << false << 0;
        QTest::newRow("100 of 1000 B, FIN 200 ms later, POST")
            << QByteArray("POST") << false << qint64(1000) << qint64(100) << false << 200;
        QTest::newRow("100 of 1000 B, reset") << QByteArray("GET") << false << qint64(1000) << qint64(100) << true << 0;
        QTest::newRow("all but the last byte, FIN") << QByteArray("GET") << false << qint64(1000) << qint64(999) << false << 0;
        QTest::newRow("2 of 4 MB, FIN") << QByteArray("GET") << false << 4 * mb << 2 * mb << false << 0;
        QTest::newRow("2 of 4 MB, reset, POST") << QByteArray("POST") << false << 4 * mb << 2 * mb << true << 0;
        QTest::newRow("chunked 2 MB without the last chunk, FIN")
            << QByteArray("GET") << true << 2 * mb << 2 * mb << false << 0;
        QTest::newRow("chunked 2 MB without the last chunk, reset")
            << QByteArray("GET") << true << 2 * mb << 2 * mb << true << 0;
        QTest::newRow("chunked, inside a chunk, FIN 100 ms later, POST")
            << QByteArray("POST") << true << 4 * mb << mb + 1000 << false << 100;
    }
    void bodiesCutShort()
    {
        QFETCH(QByteArray, method);
        QFETCH(bool, chunked);
        QFETCH(qint64, length);
        QFETCH(qint64, sent);
        QFETCH(bool, reset);
        QFETCH(int, closeAfterMs);
        constexpr int runs = 5, atOnce = 3;
        loopback::BlastAnswer answer;
        answer.head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                    + (chunked ? QByteArray("Transfer-Encoding: chunked") : "Content-Length: " + QByteArray::number(length))
                    + "\r\n\r\n";
        answer.body = length <= 4096 ? paddedJson(length) : QByteArray();
        answer.fillerBytes = length;
        answer.sendUpTo = sent;
        answer.chunked = chunked;
        answer.lastChunk = false;
        answer.breakOff = loopback::BreakOff{reset ? loopback::BreakOff::How::Reset : loopback::BreakOff::How::Close,
                                             std::chrono::milliseconds(closeAfterMs)};
        for (int run = 0; run < runs; ++run) {
            loopback::BlastServer server(answer);
            QVERIFY(server.isListening());
            HttpSession session(HttpSession::Kind::Default, 30s);
            std::vector<std::unique_ptr<Pending<HttpResponse>>> pending;
            for (int i = 0; i < atOnce; ++i) {
                const QByteArray body = method == "POST" ? QByteArray("{}") : QByteArray();
                pending.push_back(std::make_unique<Pending<HttpResponse>>(
                    session.send(method, QNetworkRequest(server.url(QStringLiteral("/x"))), body, {}, 8 << 20)));
            }
            for (const auto &p : pending) {
                QVERIFY(p->waitDone(40s));
                const int code = codeOf(p->error());
                if (chunked)
                    QVERIFY2(code == URLError::NetworkConnectionLost || code == 0, qPrintable(QString::number(code)));
                else
                    QCOMPARE(code, int(URLError::NetworkConnectionLost));
            }
            if (method == "POST")
                QCOMPARE(server.requestCount(), atOnce); // each POST went out once
        }
    }
};

QTEST_GUILESS_MAIN(HttpTest)
#include "tst_http.moc"
