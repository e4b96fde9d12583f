#include "ConnectivityFakes.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using namespace kovra;
using namespace kovra::ui;
using namespace std::chrono_literals;

class ConnectivityCheckTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The self-test raced against the 33 s watchdog on the manual clock: a report in time
    // is stored with the status query's counters (none when it fails); a late one is
    // discarded, the run ending only with the self-test and keeping an earlier report.
    // The self-test writes its file either way, also when the sheet closes mid-run (the
    // sheet that is gone is left alone); a second press during a run does nothing.
    void race_data()
    {
        QTest::addColumn<bool>("earlier");
        QTest::addColumn<int>("stepSeconds");
        QTest::addColumn<bool>("queryFails");
        QTest::addColumn<bool>("closed"); // the sheet closes mid-run
        QTest::newRow("in time") << false << 5 << false << false;
        QTest::newRow("in time, status query fails") << false << 5 << true << false;
        QTest::newRow("late") << false << 6 << false << false;
        QTest::newRow("late, earlier report kept") << true << 6 << true << false;
        QTest::newRow("late, sheet closed") << true << 6 << false << true;
    }
    void race()
    {
        QFETCH(bool, earlier);
        QFETCH(int, stepSeconds);
        QFETCH(bool, queryFails);
        QFETCH(bool, closed);
        test::ConnectivityRig rig(3, queryFails);
        ConnectivityCheck *section = rig.section();
        if (earlier) {
            rig.script({true, true, true, true, true}, 1s);
            QVERIFY(rig.start());
            rig.clock->advance(6s);
            QTRY_VERIFY(section->hasReport());
        }
        const std::optional<ConnectivityReport> before = section->connectivityReport();
        const bool late = stepSeconds * 6 > 33;
        rig.script({false, false, true, false, false}, std::chrono::seconds(stepSeconds));
        QVERIFY(rig.start() && section->connectivityRunning() && !section->runEnabled());
        section->run(); // a second press starts nothing
        if (closed)
            rig.view.reset();
        rig.clock->advance(33s);
        QTest::qWait(20);
        QVERIFY(closed || (section->connectivityRunning() == late && !section->connectivityTimedOut()));
        rig.clock->advance(3s);
        QTRY_VERIFY(rig.lastFile().contains(u"classification=tcpFail"_qs));
        if (closed)
            return;
        QTRY_VERIFY(!section->connectivityRunning());
        QVERIFY(section->connectivityTimedOut() == late && section->runEnabled() && section->hint().isEmpty());
        QCOMPARE(section->connectivityReport() == before, late);
        QCOMPARE(section->hypothesisLine().isEmpty(), late || queryFails);
        QCOMPARE(section->verdict() == u"TCP-сокет не открывается — raw-трафик не выходит", !late);
        QVERIFY(rig.prober->calls.size() == (earlier ? 12 : 6) && rig.tunnel->statusQueries() == (earlier ? 2 : 1));
    }

    // The real self-test against trickling loopback targets: each HTTP step runs into its
    // own time-out long after the watchdog fired, and the section leaves the running
    // state once the self-test ends, within its bound.
    void realSelfTest()
    {
        // Loopback targets that accept and then send a status line and one header byte
        // every 20 ms, never ending the headers: no request through them completes.
        QTcpServer server;
        connect(&server, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                socket->write("HTTP/1.1 200 OK\r\nX-Pad: ");
                auto *timer = new QTimer(socket);
                connect(timer, &QTimer::timeout, socket, [socket] { socket->write("a"); });
                timer->start(20);
            }
        });
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const QString origin = u"http://127.0.0.1:%1"_qs.arg(server.serverPort());
        ConnectivityCheckOptions options{{{u"127.0.0.1"_qs, server.serverPort(), u"localhost"_qs, u"localhost"_qs,
                                           origin + u"/cdn-cgi/trace"_qs, origin + u"/generate_204"_qs, u"Loopback"_qs},
                                          0.4, std::make_shared<RawProber>()},
                                         100ms};
        test::ConnectivityRig rig(3, false, options);
        QElapsedTimer elapsed;
        elapsed.start();
        rig.section()->run();
        // The watchdog is on the sheet's manual clock: it fires once the race is on.
        QTRY_COMPARE(rig.clock->pendingTimers(), 1);
        rig.clock->advance(100ms);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.section()->connectivityRunning(), 10000);
        QVERIFY(elapsed.elapsed() >= 3 * 400 && elapsed.elapsed() < 6 * 400 + 5000);
        QVERIFY(rig.section()->connectivityTimedOut() && !rig.section()->hasReport() &&
                rig.lastFile().contains(u"classification=tlsFail"_qs));
    }

    // The section's own texts: the exit line with "—" for what is missing, the counters
    // line, a step row. (The verdicts are the report's explanations.)
    void texts()
    {
        using Count = std::optional<quint64>;
        const QList<std::tuple<std::optional<QString>, std::optional<QString>, Count, Count, QString, QString>> rows{
            {u"203.0.113.7"_qs, u"NL"_qs, 3, {}, u"выход: 203.0.113.7 (NL)"_qs, u"гипотеза A: skippedBinds=3"_qs},
            {{}, u"NL"_qs, 3, 40, u"выход: — (NL)"_qs, u"гипотеза A: skippedBinds=3 / total=40"_qs},
            {u"203.0.113.7"_qs, {}, {}, 40, u"выход: 203.0.113.7 (—)"_qs, QString()},
            {{}, {}, {}, {}, QString(), QString()}};
        for (const auto &[ip, loc, skipped, total, exit, hypothesis] : rows) {
            const ConnectivityReport r{{}, {}, {}, ip, loc, skipped, total};
            QCOMPARE(ConnectivityCheck::formatExit(r), exit);
            QCOMPARE(ConnectivityCheck::formatHypothesis(r), hypothesis);
        }

        // A step row's title and latency, spoken together; an empty detail adds nothing.
        const ConnectivityStep control{{}, ConnectivityLayer::baseline, u"Baseline generate_204 (control)"_qs, false, 4000, {}};
        QCOMPARE(ConnectivityCheck::stepFields(control)[u"accessibleName"_qs].toString(),
                 u"[контроль] Baseline generate_204 (control), 4000 ms"_qs);
    }
};

QTEST_MAIN(ConnectivityCheckTest)
#include "itst_connectivity_check.moc"
