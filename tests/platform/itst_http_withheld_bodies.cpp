#include "platform/Http.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"

using namespace kovra;
using namespace kovra::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)

// Memory the address sanitizer parks after it is freed would count as resident and
// hide what the requests themselves hold.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=4";
}

namespace {

// The peak resident size in MB since the last reset (VmHWM of /proc/self/status).
qint64 peakResidentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() / 1024;
    }
    return -1;
}

void resetPeakResidentSize()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    QVERIFY(clear.open(QIODevice::WriteOnly));
    clear.write("5");
}

// Runs the event loop without pauses (the fake service shares this thread and would
// stream only between them) until the task is done; false when the time-out passed.
template<typename T>
bool runUntilDone(const Pending<T> &pending, std::chrono::milliseconds timeout)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!pending.isDone() && elapsed.elapsed() < timeout.count())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return pending.isDone();
}

} // namespace

// Qt holds back the headers and body of a 401 or 407 until the body has ended, so no
// reader can stop it at its cap; an endless one must still end the request before it
// fills the memory.
class HttpWithheldBodiesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void endInATypedErrorWithBoundedMemory_data()
    {
        QTest::addColumn<FakeReply>("reply");
        constexpr qint64 size = 100 * 1024 * 1024;
        QTest::newRow("401 announced") << FakeReply::streamed(401, size, false);
        QTest::newRow("407 chunked") << FakeReply::streamed(407, size, true);
    }
    void endInATypedErrorWithBoundedMemory()
    {
        QFETCH(FakeReply, reply);
        FakeService fake(1);
        QUrl url = fake.baseURLs()[0];
        url.setPath(url.path() + QStringLiteral("/me"));
        fake.script(0, "GET", QStringLiteral("/me"), {reply});
        HttpSession session(HttpSession::Kind::Default, 20s);
        resetPeakResidentSize();

        Pending<HttpResponse> pending(session.send("GET", QNetworkRequest(url), {}, {}, 8 << 20));
        QVERIFY(runUntilDone(pending, 20s));
        try {
            pending.result();
            QFAIL("the request was answered");
        } catch (const URLError &e) {
            QCOMPARE(e.code(), URLError::DataLengthExceedsMaximum);
        }
        QVERIFY(fake.waitForClosedEarly(1)); // the client cut the body off
        const qint64 peak = peakResidentMb();
        QVERIFY2(peak > 0 && peak < 100, qPrintable(QStringLiteral("peak %1 MB").arg(peak)));
    }
};

QTEST_GUILESS_MAIN(HttpWithheldBodiesTest)
#include "itst_http_withheld_bodies.moc"
