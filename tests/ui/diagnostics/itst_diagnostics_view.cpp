#include "DiagnosticsFakes.h"

#include "diagnostics/AppGroupFiles.h"
#include "platform/gui/Clipboard.h"
#include "support/ManualClock.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTimer>

using namespace kovra;
using namespace kovra::ui;
using namespace std::chrono_literals;

namespace {

const QByteArray kStatusJSON = R"({"singboxRunning":true,"ifaceName":"utun7","ifaceIndex":7,)"
                               R"("recentLogs":["started"],"activeOutboundTag":"de-1"})";

const TunnelStatusReport kStatus{true, u"utun7"_qs, 7, std::nullopt, std::nullopt, {u"started"_qs}, std::nullopt,
                                 std::nullopt, u"de-1"_qs};

// What the sheet's own work did, gathered from its collaborators.
struct Sheet {
    explicit Sheet(TunnelController *controller, TelemetrySource *telemetry = nullptr,
                   std::shared_ptr<Clock> clock = Clock::system())
        : prober(std::make_shared<test::ScriptedProber>(clock))
    {
        test::scriptProbes(*prober, {{true, 12, u"HTTP 200"_qs}, {false, 4000, u"timeout 4s"_qs}});
        view = std::make_unique<DiagnosticsView>(controller, telemetry, test::sheetOptions(home.paths(), prober, controlPlane, clock));
        // Whether the runner had published a report when the host check started.
        controlPlane.onCall = [this] { reportAtCheck << (view && view->hasReport()); };
    }
    int probeRuns() const { return int(prober->calls.size() / 6); }
    void finishAppearance() const { QVERIFY(test::Pending<void>(view->appearanceWork().waitForEnd()).waitDone()); }

    test::TestHome home{test::TestHome::PathsOnly};
    std::shared_ptr<test::ScriptedProber> prober;
    test::FakeControlPlane controlPlane;
    QList<bool> reportAtCheck;
    std::unique_ptr<DiagnosticsView> view;
};

} // namespace

class DiagnosticsViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Opening runs the runner once; the tunnel's status only while connected (a
    // failed query leaves none); the host check only while not connected, after the report.
    void workOnAppearing_data()
    {
        QTest::addColumn<int>("status"); // -1: no tunnel controller
        QTest::addColumn<bool>("queryFails");
        QTest::addColumn<bool>("engine");
        QTest::addColumn<int>("queries");
        QTest::addColumn<bool>("tunnelStatus");
        QTest::addColumn<int>("checks");
        QTest::newRow("connected") << 3 << false << true << 1 << true << 0;
        QTest::newRow("connected, query fails") << 3 << true << false << 1 << false << 0;
        QTest::newRow("disconnected") << 1 << false << true << 0 << false << 1;
        QTest::newRow("reasserting") << 4 << false << false << 0 << false << 1;
        QTest::newRow("no controller") << -1 << false << false << 0 << false << 1;
    }
    void workOnAppearing()
    {
        QFETCH(int, status);
        QFETCH(bool, queryFails);
        QFETCH(bool, engine);
        QFETCH(int, checks);
        std::unique_ptr<test::TunnelRig> rig;
        if (status >= 0) {
            rig = std::make_unique<test::TunnelRig>(status);
            using Reply = provider::ProviderServer::Reply;
            rig->provider.setMessageReply(u"status"_qs, queryFails ? Reply::failure() : Reply::withData(kStatusJSON));
        }
        test::FakeTelemetry telemetry;
        telemetry.lines = {u"11:00 probe ok"_qs, u"11:01 switched to de-1"_qs};
        Sheet sheet(rig ? &rig->controller : nullptr, engine ? &telemetry : nullptr);
        QCOMPARE(sheet.view->tunnelConnected(), status == 3);

        sheet.view->appear();
        sheet.view->appear();
        sheet.finishAppearance();

        QCOMPARE(sheet.probeRuns(), 1);
        QTEST(rig ? rig->statusQueries() : 0, "queries");
        const DiagnosticsReport report = *sheet.view->runner()->lastReport();
        QTEST(report.tunnelStatus.has_value(), "tunnelStatus");
        if (report.tunnelStatus)
            QVERIFY(*report.tunnelStatus == kStatus);
        QCOMPARE(report.reliabilityTelemetry, engine ? telemetry.lines : QStringList());
        QCOMPARE(sheet.controlPlane.calls.size(), checks);
        QCOMPARE(sheet.reportAtCheck, QList<bool>(checks, true));
        QCOMPARE(sheet.view->hasControlPlaneReport(), checks == 1);
        if (checks)
            QCOMPARE(sheet.controlPlane.calls.first().timeout, 5.0);
        QVERIFY(!sheet.view->controlPlaneRunning());
    }

    // Present, missing and undecodable snapshot files; all three loaded off the GUI
    // thread and applied together.
    void snapshots_data()
    {
        QTest::addColumn<QByteArrayList>("files"); // relative path, then its bytes
        QTest::addColumn<QString>("failure");      // "-" for none
        QTest::addColumn<QString>("startup");
        QTest::addColumn<QString>("summary");
        QTest::newRow("none") << QByteArrayList() << "-" << "-" << "-";
        QTest::newRow("all three")
            << QByteArrayList{DiagnosticsFiles::lastStartupFailure.toUtf8(), "ошибка <b>tun</b>",
                              DiagnosticsFiles::lastStartup.toUtf8(), "started\nok",
                              DiagnosticsFiles::configSummary.toUtf8(), "vless ×2"}
            << u"ошибка <b>tun</b>"_qs << u"started\nok"_qs << u"vless ×2"_qs;
        QTest::newRow("not UTF-8")
            << QByteArrayList{DiagnosticsFiles::lastStartupFailure.toUtf8(), "\xFF\xFE fail",
                              DiagnosticsFiles::configSummary.toUtf8(), "summary \x80"}
            << "-" << "-" << "-";
    }
    void snapshots()
    {
        QFETCH(QByteArrayList, files);
        Sheet sheet(nullptr);
        for (qsizetype i = 0; i + 1 < files.size(); i += 2)
            test::writeSnapshot(sheet.home.paths(), QString::fromUtf8(files[i]), files[i + 1]);
        QSignalSpy applied(sheet.view.get(), &DiagnosticsView::snapshotsChanged);
        sheet.view->appear();
        sheet.finishAppearance();
        QCOMPARE(applied.count(), 1);
        const auto text = [](const auto &snapshot) { return snapshot ? snapshot->text : u"-"_qs; };
        QTEST(text(sheet.view->startupFailure()), "failure");
        QTEST(text(sheet.view->lastStartup()), "startup");
        const auto &config = sheet.view->fetchedConfig();
        QTEST(config ? config->summary.value_or(u"-"_qs) : u"-"_qs, "summary");
        QVERIFY(!sheet.view->lastStopReason());
    }

    // Ending the presentation (or destroying the view) while the loaders or the first
    // run are under way stops the work before its next step; a rerun keeps going and
    // ends without touching what is gone.
    void closingStopsTheWork_data()
    {
        QTest::addColumn<QString>("during");
        QTest::addColumn<bool>("destroy");
        QTest::addColumn<int>("probeRuns");
        QTest::newRow("loading, presentation ended") << "loading" << false << 0;
        QTest::newRow("loading, view destroyed") << "loading" << true << 0;
        QTest::newRow("first run, presentation ended") << "run" << false << 1;
        QTest::newRow("first run, view destroyed") << "run" << true << 1;
        QTest::newRow("rerun, view destroyed") << "rerun" << true << 2;
    }
    void closingStopsTheWork()
    {
        QFETCH(QString, during);
        QFETCH(bool, destroy);
        auto clock = std::make_shared<test::ManualClock>();
        Sheet sheet(nullptr, nullptr, clock);
        test::scriptProbes(*sheet.prober, {{true, 5, u"ok"_qs}}, 1s);
        sheet.controlPlane.hold = true;
        auto gate = std::make_shared<QSemaphore>();
        DiagnosticsSnapshotLoaders loaders;
        loaders.startupFailure = [gate](const AppGroupContainer &) {
            gate->acquire();
            return std::optional<LastStartupFailureDiagnostics::Snapshot>();
        };
        auto options = test::sheetOptions(sheet.home.paths(), sheet.prober, sheet.controlPlane, clock);
        options.loaders = loaders;
        sheet.view = std::make_unique<DiagnosticsView>(nullptr, nullptr, std::move(options));
        if (during != u"loading")
            gate->release(8);

        sheet.view->appear();
        const Operation<void> work = sheet.view->appearanceWork();
        if (during == u"loading") {
            // A loader that blocks holds a worker thread, not the event loop.
            bool ticked = false;
            QTimer::singleShot(0, [&] { ticked = true; });
            QTRY_VERIFY(ticked);
        } else {
            QTRY_VERIFY(sheet.view->isRunning());
        }
        if (during == u"rerun") {
            clock->advance(1s);
            QTRY_COMPARE(sheet.controlPlane.calls.size(), 1);
            sheet.view->rerun();
            QTRY_VERIFY(sheet.view->isRunning());
        }

        if (destroy)
            sheet.view.reset();
        else
            sheet.view->endPresentation();
        gate->release(8);
        sheet.controlPlane.release.resolve(sheet.controlPlane.report);
        clock->advance(1s);
        QVERIFY(test::Pending<void>(work.waitForEnd()).waitDone());
        QTRY_COMPARE(sheet.prober->finished.size(), 6 * sheet.probeRuns());
        QTest::qWait(20);

        QTEST(sheet.probeRuns(), "probeRuns");
        QCOMPARE(sheet.controlPlane.calls.size(), during == u"rerun" ? 1 : 0);
        if (!destroy)
            QCOMPARE(sheet.view->hasReport(), during == u"run");
    }

    // The rerun keeps the old report until the new one; both buttons are off through
    // the run; copying leaves exactly the report's text, once, as plain text.
    void rerunAndCopy()
    {
        auto clock = std::make_shared<test::ManualClock>();
        Sheet sheet(nullptr, nullptr, clock);
        QGuiApplication::clipboard()->setText(u"earlier"_qs);
        sheet.view->copyReport();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"earlier"_qs);
        QVERIFY(sheet.view->rerunEnabled() && !sheet.view->copyReportEnabled());

        sheet.view->appear();
        QTRY_VERIFY(sheet.view->isRunning());
        clock->advance(0ms);
        sheet.finishAppearance();
        const DiagnosticsReport first = *sheet.view->runner()->lastReport();
        test::scriptProbes(*sheet.prober, {{false, 7, u"HTTP 503"_qs}}, 1s);
        QSignalSpy state(sheet.view.get(), &DiagnosticsView::runnerStateChanged);
        sheet.view->rerun();
        QTRY_VERIFY(sheet.view->isRunning());
        QVERIFY(!sheet.view->rerunEnabled() && !sheet.view->copyReportEnabled());
        QVERIFY(*sheet.view->runner()->lastReport() == first);
        QCOMPARE(sheet.view->probeCards().size(), 6);
        sheet.view->rerun(); // the button is off; a run under way ignores the call anyway
        clock->advance(1s);
        QTRY_VERIFY(!sheet.view->isRunning());
        QCOMPARE(sheet.probeRuns(), 2);
        QVERIFY(sheet.view->rerunEnabled() && sheet.view->copyReportEnabled());
        const DiagnosticsReport second = *sheet.view->runner()->lastReport();
        QCOMPARE(second.okCount(), 0);
        QVERIFY(state.count() >= 2);

        sheet.view->copyReport();
        sheet.view->copyReport();
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        QCOMPARE(data->formats(), QStringList{u"text/plain"_qs});
        QCOMPARE(data->text(), second.plainText());
    }

    // The status follows the controller; the host check returns at once while the
    // tunnel is connected or a check runs.
    void controlPlaneGuards()
    {
        test::TunnelRig rig(1);
        Sheet sheet(&rig.controller);
        QSignalSpy connected(sheet.view.get(), &DiagnosticsView::tunnelConnectedChanged);
        sheet.controlPlane.hold = true;

        sheet.view->checkControlPlaneAgain();
        sheet.view->checkControlPlaneAgain();
        QTRY_COMPARE(sheet.controlPlane.calls.size(), 1);
        QVERIFY(sheet.view->controlPlaneRunning() && !sheet.view->hasControlPlaneReport());
        sheet.controlPlane.report.verdict = ControlPlaneVerdict::dnsBlocked;
        sheet.controlPlane.release.resolve(sheet.controlPlane.report);
        QTRY_VERIFY(!sheet.view->controlPlaneRunning());
        QCOMPARE(sheet.view->controlPlaneReport()->verdict, ControlPlaneVerdict::dnsBlocked);

        rig.provider.setStatus(3);
        QTRY_VERIFY(sheet.view->tunnelConnected());
        test::await(sheet.view->runControlPlaneCheck());
        QCOMPARE(sheet.controlPlane.calls.size(), 1);
        rig.provider.setStatus(4);
        QTRY_VERIFY(!sheet.view->tunnelConnected());
        QCOMPARE(connected.count(), 2);
    }

    // Each share item is new; the callback handed to the sections outlives the view safely.
    void shareItems()
    {
        Sheet sheet(nullptr);
        const auto share = sheet.view->onShare();
        share(u"первый"_qs);
        const StartupShareItem first = *sheet.view->startupShareItem();
        share(u"второй"_qs);
        QCOMPARE(sheet.view->startupShareItem()->text, u"второй"_qs);
        QVERIFY(sheet.view->startupShareItem()->id != first.id && !first.id.isNull());
        sheet.view.reset();
        share(u"после"_qs);
    }
};

QTEST_MAIN(DiagnosticsViewTest)
#include "itst_diagnostics_view.moc"
