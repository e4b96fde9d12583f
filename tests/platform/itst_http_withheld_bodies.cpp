#include "platform/Http.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <QTest>

#include "support/Await.h"

#include "loopback-http/BlastServer.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

// Memory the address sanitizer parks after it is freed would count as resident and
// hide what the requests themselves hold.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=4";
}

namespace {

// A line of /proc/self/status in MB ("VmHWM": the peak resident size since the last reset,
// "VmRSS": the resident size now).
qint64 statusMb(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').first().toLongLong() / 1024;
    }
    return -1;
}

void resetPeakResidentSize()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    QVERIFY(clear.open(QIODevice::WriteOnly));
    clear.write("5");
}

// Runs the event loop until the task is done, as the thread of an app that is busy with
// other work does: once every 50 ms. False when the time-out passed first.
template<typename T>
bool waitAsABusyApp(const Pending<T> &pending, std::chrono::milliseconds timeout)
{
    for (auto waited = 0ms; !pending.isDone() && waited < timeout; waited += 50ms) {
        QThread::msleep(50);
        QCoreApplication::processEvents();
    }
    return pending.isDone();
}

// How often the body guard's thread has gone to sleep so far (each time something woke
// it, it slept again): its voluntary context switches. -1 when there is no such thread.
qint64 guardSleeps()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        if (!name.open(QIODevice::ReadOnly) || name.readAll().trimmed() != "http-body-guard")
            continue;
        QFile status(tasks.filePath(task + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                return line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    return -1;
}

} // namespace

// Qt holds back the headers and body of a 401 or 407 until the body has ended, so no
// reader can stop it at its cap; an endless one must still end the request, and the
// memory it takes must stay within the cap and a small constant however fast the host
// sends: here a 1 GB body written as fast as the connection takes it, from threads of
// this process or from a process of its own, while the thread where the replies live
// answers its events only now and then.
class HttpWithheldBodiesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void endInATypedErrorWithBoundedMemory_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<bool>("ownProcess");
        QTest::newRow("401 announced") << QByteArray("401 Unauthorized") << false << false;
        QTest::newRow("407 chunked, host in a process of its own")
            << QByteArray("407 Proxy Authentication Required") << true << true;
        QTest::newRow("401 whose host stalls once past the cap") << QByteArray("401 Unauthorized") << false << false;
    }
    void endInATypedErrorWithBoundedMemory()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, chunked);
        QFETCH(bool, ownProcess);
        constexpr qint64 cap = 8 << 20, size = qint64(1) << 30;
        std::unique_ptr<loopback::BlastServer> server;
        QProcess host;
        QUrl url;
        if (ownProcess) {
            host.start(QStringLiteral(KOVRA_BLAST_HOST), {QString::fromLatin1(status), QString::number(size),
                                                          chunked ? QStringLiteral("chunked") : QStringLiteral("length")});
            QVERIFY(host.waitForReadyRead(10000));
            const QByteArray line = host.readLine().trimmed();
            QVERIFY2(line.startsWith("port "), line.constData());
            url = QUrl(QStringLiteral("http://127.0.0.1:%1/me").arg(QString::fromLatin1(line.mid(5))));
        } else {
            loopback::BlastAnswer answer;
            answer.head = "HTTP/1.1 " + status + "\r\n"
                        + (chunked ? QByteArray("Transfer-Encoding: chunked") : "Content-Length: " + QByteArray::number(size))
                        + "\r\n\r\n";
            answer.fillerBytes = size;
            answer.chunked = chunked;
            // Nothing arrives after that: the bytes already read must stop the request.
            if (QByteArray(QTest::currentDataTag()).contains("stalls"))
                answer.sendUpTo = cap + (5 << 20) / 2;
            server = std::make_unique<loopback::BlastServer>(answer);
            QVERIFY(server->isListening());
            url = server->url(QStringLiteral("/me"));
        }
        HttpSession session(HttpSession::Kind::Default, 60s);
        const qint64 before = statusMb("VmRSS");
        resetPeakResidentSize();

        Pending<HttpResponse> pending(session.send("GET", QNetworkRequest(url), {}, {}, cap));
        QVERIFY(waitAsABusyApp(pending, 60s));
        try {
            pending.result();
            QFAIL("the request was answered");
        } catch (const URLError &e) {
            QCOMPARE(e.code(), URLError::DataLengthExceedsMaximum);
        }
        const qint64 grown = statusMb("VmHWM") - before;
        if (ownProcess) {
            host.closeWriteChannel();
            QVERIFY(host.waitForFinished(10000));
        }
        qInfo("resident %lld MB before, peak %lld MB above it", before, grown);
        QVERIFY2(grown < (cap >> 20) + 40, qPrintable(QStringLiteral("peak %1 MB above the start").arg(grown)));
    }

    // A shown body that Qt reads ahead of its busy reader is no withheld one: while it
    // streams in, another request still waiting for its head (with a smaller cap) is not
    // stopped, and the body arrives whole.
    void aShownBodyTripsNoOtherWatch()
    {
        constexpr qint64 size = 6 << 20;
        loopback::BlastAnswer answer;
        answer.head = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(size) + "\r\n\r\n";
        answer.fillerBytes = size;
        loopback::BlastServer server(answer);
        QTcpServer silent; // accepts connections (the system does) and never answers
        QVERIFY(server.isListening() && silent.listen(QHostAddress::LocalHost));
        HttpSession session(HttpSession::Kind::Default, 60s);
        CancellationSource stop;
        const QUrl waiting(QStringLiteral("http://127.0.0.1:%1/x").arg(silent.serverPort()));
        Pending<HttpResponse> small(session.send("GET", QNetworkRequest(waiting), {}, stop.token(), 1 << 20));
        Pending<HttpResponse> large(session.send("GET", QNetworkRequest(server.url(QStringLiteral("/x"))), {}, {}, 8 << 20));

        QVERIFY(waitAsABusyApp(large, 60s));
        QCOMPARE(large.result().body.size(), size);
        stop.cancel();
        QVERIFY(small.waitDone());
        QVERIFY(isCancellation(small.error()));
    }

    // The guard sleeps while no body arrives: once a burst of requests on a kept-alive
    // connection has been answered, and while a request waits for a head that does not
    // come.
    void quietSocketsWakeNothing_data()
    {
        QTest::addColumn<bool>("waitingForHead");
        QTest::newRow("after answered requests") << false;
        QTest::newRow("while a request waits for its head") << true;
    }
    void quietSocketsWakeNothing()
    {
        QFETCH(bool, waitingForHead);
        loopback::BlastAnswer answer;
        answer.head = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
        answer.body = "ok";
        loopback::BlastServer server(answer);
        QTcpServer silent;
        QVERIFY(server.isListening() && silent.listen(QHostAddress::LocalHost));
        HttpSession session(HttpSession::Kind::Default, 60s);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(await(session.send("GET", QNetworkRequest(server.url(QStringLiteral("/x"))), {}, {}, 1 << 20)).statusCode, 200);
        CancellationSource stop;
        std::optional<Pending<HttpResponse>> waiting;
        if (waitingForHead)
            waiting.emplace(session.send("GET", QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(silent.serverPort()))),
                                         {}, stop.token(), 1 << 20));
        QTest::qWait(100);

        const qint64 before = guardSleeps();
        QVERIFY(before >= 0);
        QTest::qWait(500);
        QCOMPARE(guardSleeps(), before);
        stop.cancel();
        QVERIFY(!waiting || waiting->waitDone());
    }
};

QTEST_GUILESS_MAIN(HttpWithheldBodiesTest)
#include "itst_http_withheld_bodies.moc"
