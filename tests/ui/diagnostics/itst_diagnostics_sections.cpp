#include "DiagnosticsFakes.h"
#include "SectionFakes.h"

#include "support/FakeService.h"
#include "support/ManualClock.h"

#include <QSignalSpy>

using namespace kovra;
using namespace kovra::ui;
using namespace std::chrono_literals;
using Reply = DiagnosticsRequestSender::Reply;

Q_DECLARE_METATYPE(QList<kovra::DiagnosticsRequestSender::Reply>)

namespace {

// A sheet on a manual clock whose triage and upload are scripted (see scriptTriage).
struct Sections {
    explicit Sections(TunnelController *controller = nullptr, QList<QUrl> baseURLs = {}, bool realSender = false)
    {
        prober->fallback = {true, 3, u"fine"_qs};
        auto options = test::sheetOptions(home.paths(), prober, hostCheck, clock);
        test::scriptTriage(options, prober, realSender ? nullptr : sender, std::move(baseURLs));
        view = std::make_unique<DiagnosticsView>(controller, nullptr, std::move(options));
    }
    // Lets the probes due now end, until `done` holds.
    bool settle(const std::function<bool()> &done)
    {
        return QTest::qWaitFor([&] { return clock->advance(0ms), done(); });
    }
    TriagePresenter &triage() const { return *view->triage(); }
    ControlPlanePresenter &hosts() const { return *view->controlPlane(); }

    test::TestHome home{test::TestHome::PathsOnly};
    std::shared_ptr<test::ManualClock> clock = std::make_shared<test::ManualClock>();
    std::shared_ptr<test::ScriptedProber> prober = std::make_shared<test::ScriptedProber>(clock);
    std::shared_ptr<test::FakeSender> sender = std::make_shared<test::FakeSender>();
    test::FakeControlPlane hostCheck;
    std::unique_ptr<DiagnosticsView> view;
};

} // namespace

class DiagnosticsSectionsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The triage section by report, run, send and tunnel status (set after the run
    // started): body, rows (the report's or the live ones), indicator, buttons.
    void triageStates_data()
    {
        QTest::addColumn<int>("status"); // -1: no tunnel controller
        QTest::addColumn<bool>("report");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("uploading");
        QTest::addColumn<int>("body");
        const int empty = TriagePresenter::Empty, running = TriagePresenter::Running, report = TriagePresenter::Report;
        QTest::newRow("nothing yet") << -1 << false << false << false << empty;
        QTest::newRow("report") << 1 << true << false << false << report;
        QTest::newRow("report, sending") << 4 << true << false << true << report;
        QTest::newRow("running while sending") << -1 << false << true << true << running;
        QTest::newRow("sending without a report") << 4 << false << false << true << empty;
        QTest::newRow("connected, report, sending") << 3 << true << false << true << report;
        QTest::newRow("connected during a run") << 3 << false << true << false << running;
    }
    void triageStates()
    {
        QFETCH(int, status);
        QFETCH(bool, report);
        QFETCH(bool, running);
        QFETCH(bool, uploading);
        std::unique_ptr<test::TunnelRig> rig = status >= 0 ? std::make_unique<test::TunnelRig>(1) : nullptr;
        Sections s(rig ? &rig->controller : nullptr);
        TriagePresenter &t = s.triage();
        s.prober->script(u"dns b.test"_qs, {false, 5000, u"timeout 5s"_qs}, running ? 5s : 0s);
        if (report || running)
            t.run();
        QVERIFY(s.settle([&] { return running ? t.triageSteps().size() == 3 : !t.triageRunning(); }));
        s.sender->hold = true;
        if (uploading)
            t.uploadTriage(t.triageReport().value_or(TriageReport{}));
        if (rig)
            rig->provider.setStatus(status);
        QTRY_COMPARE(s.view->tunnelConnected(), status == 3);

        QTEST(int(t.body()), "body");
        // The report has all nine steps; a run under way has three so far.
        const QList<TriageStep> source = report ? t.triageReport()->steps : t.triageSteps();
        QCOMPARE(t.rows().size(), report ? 9 : running ? 3 : 0);
        QCOMPARE(t.rows().value(2), source.size() > 2 ? source[2].rowText() : QString());
        QCOMPARE(t.busy(), running || uploading);
        QCOMPARE(t.buttonsEnabled(), !running && !uploading);
        QCOMPARE(t.runShown(), status != 3);
        s.clock->advance(5s);
        s.sender->release.resolve();
        QVERIFY(s.settle([&] { return !t.busy(); }));
        QCOMPARE(t.triageReport().has_value(), report || running);
        const qsizetype probes = s.prober->calls.size();
        t.run();
        QVERIFY(s.settle([&] { return s.clock->advance(5s), !t.triageRunning(); }));
        QCOMPARE(s.prober->calls.size() > probes, status != 3);
    }

    // Steps that finish with pauses show one more row each, in order (an empty detail
    // keeps its spaces; a host listed twice has rows of its own). Double presses start
    // one run and one send; a new run clears the report and the send line at once. A run
    // whose sheet is gone ends quietly.
    void triageRun()
    {
        Sections s;
        TriagePresenter &t = s.triage();
        for (const QString &host : {u"a.test"_qs, u"b.test"_qs}) {
            s.prober->script(u"dns "_qs + host, {true, 4, u"192.0.2.1"_qs}, 1s);
            s.prober->script(u"tcp %1:443"_qs.arg(host), {host == u"a.test", 9, QString()}, 1s);
            s.prober->script(u"HEAD https://%1/"_qs.arg(host), {false, 20, u"HTTP 503"_qs}, 1s);
        }
        t.run();
        t.run();
        for (int i = 0; i < 9; ++i) {
            QTRY_COMPARE(s.prober->calls.size(), i + 1);
            QCOMPARE(t.rows().size(), i);
            s.clock->advance(1s);
            QTRY_COMPARE(t.rows().size(), i + 1);
        }
        QTRY_VERIFY(!t.triageRunning());
        QCOMPARE(t.rows().mid(3, 4), (QStringList{u"b.test  dns  ok  192.0.2.1"_qs, u"b.test  tcp  fail  "_qs,
                                                  u"b.test  head  fail  HTTP 503"_qs, u"a.test  dns  ok  192.0.2.1"_qs}));
        s.sender->hold = true;
        t.send();
        t.send();
        s.sender->release.resolve();
        QTRY_COMPARE(t.uploadStatusText(), u"Отправлено, код INC-1"_qs);
        QCOMPARE(s.sender->calls, 1);
        t.run();
        QVERIFY(t.triageRunning() && !t.triageReport() && !t.hasUploadStatus() && t.rows().isEmpty());
        QTRY_COMPARE(s.prober->calls.size(), 10);
        s.view.reset();
        s.clock->advance(9s);
        QTRY_COMPARE(s.prober->finished.size(), 18);
    }

    // The send line when no base URL took the report: why the last one failed (a
    // transport failure by its short text, the service's refusals by their user texts).
    // (The incident code: triageRun and sendReachesService.)
    void uploadTexts_data()
    {
        QTest::addColumn<QList<Reply>>("replies");
        QTest::addColumn<QString>("status");
        QTest::newRow("transport failure last") << QList<Reply>{{500, {}}, {200, "{}"}, {0, {}}} << "Не удалось отправить: timeout";
        QTest::newRow("undecodable") << QList<Reply>{{200, "<html>"}} << "Не удалось отправить: decode ";
    }
    void uploadTexts()
    {
        QFETCH(QList<Reply>, replies);
        QFETCH(QString, status);
        Sections s;
        s.sender->replies = replies;
        test::await(s.triage().uploadTriage({}));
        QVERIFY2(s.triage().uploadStatusText().startsWith(status), qPrintable(s.triage().uploadStatusText()));
        QVERIFY(!s.triage().triageUploading());
    }

    // The product's sender: the first host refuses, the second gives the code; a send
    // whose sheet closes on the way still reaches the service.
    void sendReachesService()
    {
        test::FakeService service(2);
        service.script(1, "POST", "/diag", {test::FakeReply::json(200, R"({"ok":true,"incident":"INC-9"})", 200ms)});
        Sections s(nullptr, {test::FakeService::closedPortURL(), service.baseURLs()[1]}, true);
        test::await(s.triage().uploadTriage({}));
        QCOMPARE(s.triage().uploadStatusText(), u"Отправлено, код INC-9"_qs);
        QCoro::Task<void> late = s.triage().uploadTriage({});
        s.view.reset();
        test::await(std::move(late));
        QCOMPARE(service.requestCount(), 2);
    }

    // The host check's section through its four states, with or without a tunnel
    // controller. Connected at opening: absent, no check; after a disconnect the running
    // text without indicator. Presses during a check (the opening's one included) start
    // none; connecting meanwhile hides the section, the check still stores its report.
    // A rerun keeps the report until its own; rows by position, as they stand.
    void controlPlane_data()
    {
        QTest::addColumn<bool>("controller");
        QTest::newRow("no controller") << false;
        QTest::newRow("tunnel controller") << true;
    }
    void controlPlane()
    {
        QFETCH(bool, controller);
        std::unique_ptr<test::TunnelRig> rig = controller ? std::make_unique<test::TunnelRig>(3) : nullptr;
        Sections s(rig ? &rig->controller : nullptr);
        ControlPlanePresenter &h = s.hosts();
        QSignalSpy connected(s.view.get(), &DiagnosticsView::tunnelConnectedChanged);
        QVERIFY(!h.running() && !h.hasReport() && h.rerunEnabled() && h.rows().isEmpty());
        s.hostCheck.hold = true;
        s.view->appear();
        QVERIFY(s.settle([&] { return s.view->appearanceWork().isFinished() || !s.hostCheck.calls.isEmpty(); }));
        if (rig) {
            test::await(s.view->runControlPlaneCheck()); // returns at once while connected
            QVERIFY(!h.shown() && s.hostCheck.calls.isEmpty());
            rig->provider.setStatus(1);
            QTRY_VERIFY(h.shown() && !h.running() && !h.hasReport());
        }
        h.rerun();
        h.rerun();
        QVERIFY(h.running() && !h.rerunEnabled() && !h.hasReport());
        if (rig) {
            rig->provider.setStatus(3);
            QTRY_VERIFY(!h.shown());
        }
        const ControlPlaneHostResult a{u"a.test"_qs, {true, 3, u"192.0.2.1"_qs}, {false, 9, {}}, {false, 40, u"HTTP 503"_qs}};
        const ControlPlaneHostResult b{u"b.test"_qs, {false, 0, u"getaddrinfo: no"_qs}, {}, {true, 0, {}}};
        s.hostCheck.release.resolve(test::hostReport(ControlPlaneVerdict::blackholed, {a, b, a}));
        QTRY_VERIFY(h.hasReport() && !h.running() && h.rerunEnabled());
        if (rig) {
            rig->provider.setStatus(4);
            QTRY_VERIFY(h.shown());
        }
        QVERIFY(!h.reachable() && h.verdictTitle() == u"Имена серверов Kovra найдены, но TCP-соединение не открывается");
        const QString rowA = u"a.test  DNS ok 192.0.2.1 | TCP fail  | HTTPS fail HTTP 503"_qs;
        QCOMPARE(h.rows(), (QStringList{rowA, u"b.test  DNS fail getaddrinfo: no | TCP fail  | HTTPS ok "_qs, rowA}));
        s.hostCheck.release = {};
        h.rerun();
        QVERIFY(h.running() && h.rows().size() == 3 && !h.verdictTitle().isEmpty());
        s.hostCheck.release.resolve(test::hostReport(ControlPlaneVerdict::reachable));
        QTRY_VERIFY(!h.running() && h.reachable() && h.rows().isEmpty());
        QCOMPARE(h.plainText(), s.view->controlPlaneReport()->plainText());
        QCOMPARE(s.hostCheck.calls.size(), 2);
        QCOMPARE(connected.count(), rig ? 3 : 0);
    }
};

QTEST_MAIN(DiagnosticsSectionsTest)
#include "itst_diagnostics_sections.moc"
