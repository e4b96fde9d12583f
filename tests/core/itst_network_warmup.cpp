#include "core/NetworkWarmup.h"

#include "core/APIClient.h"
#include "core/AppGroupStore.h"
#include "platform/Log.h"

#include <QTest>

#include "support/Await.h"
#include "support/FakeService.h"

using namespace kovra;
using test::FakeReply;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(kovra::test::FakeReply)

namespace {

const QString kForeign = QStringLiteral("https://api.elsewhere.example/api");

// The hosts in the order they were contacted; repeats in a row (Qt may send a request
// once more on a closed connection) count once.
QList<int> contacted(const QList<test::RecordedRequest> &requests)
{
    QList<int> hosts;
    for (const auto &r : requests) {
        if (hosts.isEmpty() || hosts.last() != r.host)
            hosts.append(r.host);
    }
    return hosts;
}

} // namespace

class NetworkWarmupTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        m_service = std::make_unique<test::FakeService>();
        m_urls = m_service->baseURLs();
        // The second host goes by name, so the log line tells it from the others.
        m_urls[1].setHost(QStringLiteral("localhost"));
    }

    void init() { m_service->reset(); }

    void run_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QList<FakeReply>>("replies");
        QTest::addColumn<QList<int>>("expectedHosts");
        QTest::addColumn<int>("pinned"); // -1: nothing pinned
        QTest::addColumn<QString>("line");

        // Answers come a little late, so a candidate started alongside would show up first.
        const auto late = [](int status) { return FakeReply::json(status, "[]", 100ms); };
        const FakeReply ok = late(200), close = FakeReply::close(), silent = FakeReply::silent();
        const QString pinned0 = QStringLiteral("warmup: pinned API host 127.0.0.1");
        const QString pinned1 = QStringLiteral("warmup: pinned API host localhost");
        const QString none = QStringLiteral("warmup: no API host reachable");
        const QString url1 = m_urls[1].toString();

        QTest::newRow("503 counts, others untried") << QString() << QList{late(503), ok, ok} << QList{0} << 0 << pinned0;
        QTest::newRow("stored second answers 401") << url1 << QList{ok, late(401), ok} << QList{1} << 1 << pinned1;
        QTest::newRow("first closes, second answers") << QString() << QList{close, ok, ok} << QList{0, 1} << 1 << pinned1;
        QTest::newRow("stored URL not one of ours is ignored and replaced")
            << kForeign << QList{close, ok, ok} << QList{0, 1} << 1 << pinned1;
        QTest::newRow("none answers, nothing stored")
            << QString() << QList{close, close, close} << QList{0, 1, 2} << -1 << none;
        QTest::newRow("none answers, previous pin kept")
            << url1 << QList{close, silent, close} << QList{1, 2, 0} << -1 << none;
    }
    void run()
    {
        QFETCH(QString, stored);
        QFETCH(QList<FakeReply>, replies);
        QFETCH(QList<int>, expectedHosts);
        QFETCH(int, pinned);
        QFETCH(QString, line);
        auto defaults = Defaults::inMemory();
        if (!stored.isNull())
            defaults->set(AppGroupKey::activeBaseURL, stored);
        for (int host = 0; host < 3; ++host)
            m_service->script(host, "GET", QStringLiteral("/regions"), {replies.at(host)});
        LogCapture capture;

        test::await(NetworkWarmup(m_urls, defaults, 1000ms).run());

        const QList<test::RecordedRequest> requests = m_service->requests();
        QCOMPARE(contacted(requests), expectedHosts);
        for (const auto &r : requests) {
            QCOMPARE(r.method, QByteArray("GET"));
            QCOMPARE(r.url.path(), QStringLiteral("/api/regions"));
            QCOMPARE(r.header("User-Agent"), APIClient::userAgent().toUtf8());
            QVERIFY(!r.hasHeader("Authorization"));
            QVERIFY(!r.hasHeader("Accept"));
            QVERIFY(!r.hasHeader("Content-Type"));
            QVERIFY(r.body.isEmpty());
        }

        const QVariant expectedKey = pinned >= 0 ? QVariant(m_urls[pinned].toString())
                                   : stored.isNull() ? QVariant()
                                                     : QVariant(stored);
        QCOMPARE(defaults->object(AppGroupKey::activeBaseURL), expectedKey);
        const QList<LogLine> lines = capture.lines(QStringLiteral("NetworkWarmup"));
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines.first().text, line);
        QCOMPARE(lines.first().level, pinned >= 0 ? LogLevel::Info : LogLevel::Error);
    }

private:
    std::unique_ptr<test::FakeService> m_service;
    QList<QUrl> m_urls;
};

QTEST_GUILESS_MAIN(NetworkWarmupTest)
#include "itst_network_warmup.moc"
