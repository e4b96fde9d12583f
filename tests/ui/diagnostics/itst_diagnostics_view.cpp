#include "DiagnosticsFakes.h"

#include "diagnostics/AppGroupFiles.h"
#include "support/ManualClock.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QSemaphore>
#include <QSignalSpy>

using namespace kovra;
using namespace kovra::ui;
using namespace std::chrono_literals;

namespace {

const QByteArray kStatusJSON = R"({"singboxRunning":true,"ifaceName":"utun7","recentLogs":["started"]})";

// A sheet over scripted probes (one passes, the rest fail) and the fake host check.
struct Sheet {
    explicit Sheet(TunnelController *controller, TelemetrySource *telemetry = nullptr,
                   std::shared_ptr<Clock> clock = Clock::system(), DiagnosticsSnapshotLoaders loaders = {})
        : prober(std::make_shared<test::ScriptedProber>(clock))
    {
        test::scriptProbes(*prober, {{true, 12, u"HTTP 200"_qs}, {false, 4000, u"timeout 4s"_qs}});
        auto options = test::sheetOptions(home.paths(), prober, controlPlane, clock);
        options.loaders = std::move(loaders);
        view = std::make_unique<DiagnosticsView>(controller, telemetry, std::move(options));
        // Whether the runner had published its report when the host check started.
        controlPlane.onCall = [this] { reportAtCheck << (view && view->hasReport()); };
    }
    int probeRuns() const { return int(prober->calls.size() / 6); }
    bool appearanceEnds() const { return test::Pending<void>(view->appearanceWork().waitForEnd()).waitDone(); }

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
    // Opening runs the runner once: with the tunnel's status only while connected (a
    // failed query leaves none), with the engine's lines; then the host check only
    // while not connected, once the report is out.
    void workOnAppearing_data()
    {
        QTest::addColumn<int>("status"); // -1: no tunnel controller
        QTest::addColumn<bool>("engine");
        QTest::addColumn<int>("queries");
        QTest::addColumn<QString>("iface"); // of the report's tunnel status, "-" for none
        QTest::addColumn<int>("checks");
        QTest::newRow("connected") << 3 << true << 1 << "utun7" << 0;
        QTest::newRow("connected, query fails") << 3 << false << 1 << "-" << 0;
        QTest::newRow("disconnected") << 1 << true << 0 << "-" << 1;
        QTest::newRow("reasserting") << 4 << false << 0 << "-" << 1;
        QTest::newRow("no controller") << -1 << false << 0 << "-" << 1;
    }
    void workOnAppearing()
    {
        QFETCH(int, status);
        QFETCH(bool, engine);
        QFETCH(int, checks);
        std::unique_ptr<test::TunnelRig> rig;
        if (status >= 0) {
            rig = std::make_unique<test::TunnelRig>(status);
            using Reply = provider::ProviderServer::Reply;
            const bool fails = QTest::currentDataTag() == QByteArray("connected, query fails");
            rig->provider.setMessageReply(u"status"_qs, fails ? Reply::failure() : Reply::withData(kStatusJSON));
        }
        test::FakeTelemetry telemetry;
        telemetry.lines = {u"11:00 probe ok"_qs, u"11:01 switched to de-1"_qs};
        Sheet sheet(rig ? &rig->controller : nullptr, engine ? &telemetry : nullptr);
        QCOMPARE(sheet.view->tunnelConnected(), status == 3);

        sheet.view->appear();
        sheet.view->appear();
        QVERIFY(sheet.appearanceEnds());
        QCOMPARE(sheet.probeRuns(), 1);
        QTEST(rig ? rig->statusQueries() : 0, "queries");
        const DiagnosticsReport report = *sheet.view->runner()->lastReport();
        QTEST(report.tunnelStatus ? report.tunnelStatus->ifaceName.value_or(u"?"_qs) : u"-"_qs, "iface");
        QCOMPARE(report.reliabilityTelemetry, engine ? telemetry.lines : QStringList());
        QCOMPARE(sheet.reportAtCheck, QList<bool>(checks, true));
        QCOMPARE(sheet.view->hasControlPlaneReport(), checks == 1);
        if (checks)
            QCOMPARE(sheet.controlPlane.calls.first().timeout, 5.0);
    }

    // The loaders read the container off the GUI thread; their results arrive together:
    // a file that is there, one that is missing, one that is not UTF-8.
    void snapshots()
    {
        Sheet sheet(nullptr);
        const AppGroupContainer container(sheet.home.paths(), DiagnosticsView::appGroupIdentifier());
        QVERIFY(container.write(DiagnosticsFiles::lastStartupFailure, "ошибка <b>tun</b>\n"));
        QVERIFY(container.write(DiagnosticsFiles::configSummary, "summary \xFF\xFE"));
        QSignalSpy applied(sheet.view.get(), &DiagnosticsView::snapshotsChanged);
        sheet.view->appear();
        QVERIFY(sheet.appearanceEnds());
        QCOMPARE(applied.count(), 1);
        QCOMPARE(sheet.view->startupFailure()->text, u"ошибка <b>tun</b>\n"_qs);
        QVERIFY(!sheet.view->lastStartup() && !sheet.view->fetchedConfig() && !sheet.view->lastStopReason());
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
        auto gate = std::make_shared<QSemaphore>(during == u"loading" ? 0 : 1);
        DiagnosticsSnapshotLoaders loaders;
        loaders.startupFailure = [gate](const AppGroupContainer &) {
            gate->acquire();
            return std::optional<LastStartupFailureDiagnostics::Snapshot>();
        };
        Sheet sheet(nullptr, nullptr, clock, loaders);
        test::scriptProbes(*sheet.prober, {{true, 5, u"ok"_qs}}, 1s);
        sheet.controlPlane.hold = true;
        sheet.view->appear();
        const Operation<void> work = sheet.view->appearanceWork();
        if (during == u"loading") {
            // A loader that blocks holds a worker thread, not the event loop.
            QTest::qWait(20);
            QVERIFY(!sheet.view->isRunning());
        } else {
            QTRY_VERIFY(sheet.view->isRunning());
        }
        if (during == u"rerun") {
            clock->advance(1s);
            QTRY_COMPARE(sheet.controlPlane.calls.size(), 1);
            sheet.view->rerun();
            QVERIFY(sheet.view->isRunning());
        }

        if (destroy)
            sheet.view.reset();
        else
            sheet.view->endPresentation();
        gate->release();
        sheet.controlPlane.release.resolve({});
        clock->advance(1s);
        QVERIFY(test::Pending<void>(work.waitForEnd()).waitDone());
        QTRY_COMPARE(sheet.prober->finished.size(), 6 * sheet.probeRuns());
        QTest::qWait(20);
        QTEST(sheet.probeRuns(), "probeRuns");
        QCOMPARE(sheet.controlPlane.calls.size(), during == u"rerun" ? 1 : 0);
        if (!destroy)
            QCOMPARE(sheet.view->hasReport(), during == u"run");
    }

    // The rerun keeps the old report until the new one, both buttons off through the
    // run; the engine's lines are read at its start; copying leaves the report's text,
    // once, as the only plain item; without a report nothing is copied. Share items.
    void rerunAndCopy()
    {
        auto clock = std::make_shared<test::ManualClock>();
        test::FakeTelemetry telemetry;
        Sheet sheet(nullptr, &telemetry, clock);
        QGuiApplication::clipboard()->setText(u"earlier"_qs);
        sheet.view->copyReport();
        QCOMPARE(QGuiApplication::clipboard()->text(), u"earlier"_qs);
        sheet.view->appear();
        QTRY_VERIFY(sheet.view->isRunning());
        clock->advance(0ms);
        QVERIFY(sheet.appearanceEnds());
        const DiagnosticsReport first = *sheet.view->runner()->lastReport();

        test::scriptProbes(*sheet.prober, {{false, 7, u"HTTP 503"_qs}}, 1s);
        sheet.view->rerun();
        QVERIFY(sheet.view->isRunning() && !sheet.view->rerunEnabled() && !sheet.view->copyReportEnabled());
        QVERIFY(*sheet.view->runner()->lastReport() == first);
        QCOMPARE(sheet.view->probeCards().size(), 6);
        telemetry.lines = {u"12:00 later line"_qs};
        sheet.view->rerun();
        clock->advance(1s);
        QTRY_VERIFY(sheet.view->rerunEnabled() && sheet.view->copyReportEnabled());
        const DiagnosticsReport second = *sheet.view->runner()->lastReport();
        QVERIFY(second.okCount() == 0 && second.reliabilityTelemetry.isEmpty());
        QCOMPARE(sheet.probeRuns(), 2);
        QCOMPARE(telemetry.reads, 2);

        sheet.view->copyReport();
        sheet.view->copyReport();
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        QCOMPARE(data->formats(), QStringList{u"text/plain"_qs});
        QCOMPARE(data->text(), second.plainText());

        // Each share item is new; the callback handed to the sections outlives the view.
        const auto share = sheet.view->onShare();
        share(u"первый"_qs);
        const QUuid firstID = sheet.view->startupShareItem()->id;
        share(u"второй"_qs);
        QVERIFY(sheet.view->startupShareItem()->id != firstID && sheet.view->startupShareItem()->text == u"второй");
        sheet.view.reset();
        share(u"после"_qs);
    }
};

QTEST_MAIN(DiagnosticsViewTest)
#include "itst_diagnostics_view.moc"
