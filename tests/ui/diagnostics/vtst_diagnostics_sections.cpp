#include "DiagnosticsFakes.h"
#include "SectionFakes.h"

#include "support/ManualClock.h"
#include "support/view/ViewHarness.h"
#include "ui/design/Brand.h"
#include "ui/diagnostics/DiagnosticsModule.h"

#include <QQuickWindow>

using namespace kovra;
using namespace kovra::ui;
using namespace std::chrono_literals;
using test::argb;

// The host check's and the triage's sections in the sheet's content.
class DiagnosticsSectionsViewTest : public test::ViewTestCase {
    Q_OBJECT

    // Outlive the view-model, which lives as long as the engine.
    test::TestHome m_home{test::TestHome::PathsOnly};
    test::FakeControlPlane m_hostCheck;

    void click(const QString &name) { test::clickCentre(view().window(), view().find(name)); }
    int rows(const QString &repeater) { return view().value(repeater, u"count"_qs).toInt(); }
    qreal top(const QString &name) { return view().find(name)->mapToScene({0, 0}).y(); }

private Q_SLOTS:
    // The host check checking, then a blocked verdict in orange with its rows and copy
    // control, then a reachable one in green though its HTTPS row failed; the triage from
    // its run button: running with the steps so far, then the report (orange summary,
    // rows, copy, send) and the line of a send. With the tunnel connected: no host check,
    // the notice in place of the run button. Both sections sit above the technical details.
    void sections_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("disconnected") << false;
        QTest::newRow("connected") << true;
    }
    void sections()
    {
        QFETCH(bool, connected);
        registerDiagnosticsModule();
        std::unique_ptr<test::TunnelRig> rig = connected ? std::make_unique<test::TunnelRig>(3) : nullptr;
        auto clock = std::make_shared<test::ManualClock>();
        auto prober = std::make_shared<test::ScriptedProber>(clock);
        prober->fallback = {true, 3, u"fine"_qs};
        prober->script(u"tcp b.test:443"_qs, {false, 5000, u"timeout 5s"_qs}, 5s);
        prober->script(u"HEAD https://a.test/"_qs, {false, 40, u"HTTP 503"_qs});
        test::FakeControlPlane &hostCheck = m_hostCheck = {};
        hostCheck.hold = true;
        auto options = test::sheetOptions(m_home.paths(), prober, hostCheck, clock);
        test::scriptTriage(options, prober, std::make_shared<test::FakeSender>());
        auto *model = new DiagnosticsView(rig ? &rig->controller : nullptr, nullptr, std::move(options), &view().engine());
        QVERIFY(view().show(u"Kovra.Diagnostics/DiagnosticsSheet"_qs,
                            {{u"model"_qs, QVariant::fromValue(model)}, {u"width"_qs, 560}, {u"height"_qs, 640}}));
        const auto settle = [&](const std::function<bool()> &done) {
            return QTest::qWaitFor([&] { return clock->advance(0ms), done(); });
        };
        model->appear();
        QVERIFY(settle([&] { return model->appearanceWork().isFinished() || !hostCheck.calls.isEmpty(); }));
        QCOMPARE(view().isShown(u"triageRun"_qs), !connected);
        QCOMPARE(view().isShown(u"triageNeedsVPNOff"_qs), connected);
        QCOMPARE(view().isShown(u"controlPlaneCard"_qs), !connected);
        if (connected) {
            QVERIFY(hostCheck.calls.isEmpty());
            view().saveScreenshot(u"connected"_qs);
            return;
        }
        QVERIFY(view().isShown(u"controlPlaneIndicator"_qs) && view().isShown(u"controlPlaneRunningText"_qs));
        QVERIFY(top(u"controlPlaneCard"_qs) < top(u"triageCard"_qs) && top(u"triageCard"_qs) < top(u"disclosure"_qs));
        click(u"triageRun"_qs);
        QVERIFY(settle([&] { return rows(u"triageRows"_qs) == 4; }));
        QVERIFY(view().isShown(u"triageIndicator"_qs) && view().isShown(u"triageRunningText"_qs));
        QVERIFY(!view().isShown(u"triageSend"_qs) && !view().find(u"triageRun"_qs)->isEnabled());
        view().saveScreenshot(u"running"_qs);

        const RawProbeOutcome timeout{false, 5000, u"timeout 5s"_qs};
        hostCheck.release.resolve(test::hostReport(
            ControlPlaneVerdict::blackholed, {{u"api.kovra.example"_qs, {true, 12, u"203.0.113.10, 203.0.113.11"_qs}, timeout, timeout},
                                              {u"api-2.kovra.example"_qs, {true, 9, u"198.51.100.4"_qs}, timeout, timeout}}));
        clock->advance(5s);
        QVERIFY(settle([&] { return view().isShown(u"triageSummary"_qs) && !view().isShown(u"triageIndicator"_qs); }));
        QVERIFY(!view().isShown(u"controlPlaneIndicator"_qs) && view().isShown(u"controlPlaneCopy"_qs));
        QCOMPARE(rows(u"triageRows"_qs), 9);
        QCOMPARE(rows(u"controlPlaneRows"_qs), 2);
        QCOMPARE(view().argb(u"triageSummary"_qs), argb(view().brand().warning()));
        QCOMPARE(view().argb(u"controlPlaneVerdict"_qs), argb(view().brand().warning()));
        click(u"triageSend"_qs);
        QTRY_COMPARE(view().value(u"triageUploadStatus"_qs, u"text"_qs).toString(), u"Отправлено, код INC-1"_qs);
        QVERIFY(view().isShown(u"triageCopy"_qs) && view().find(u"triageRun"_qs)->isEnabled());
        view().saveScreenshot(u"reports"_qs);

        hostCheck = {};
        hostCheck.report = test::hostReport(ControlPlaneVerdict::reachable,
                                            {{u"a.test"_qs, {true, 3, u"192.0.2.1"_qs}, {true, 9, {}}, {false, 40, u"HTTP 503"_qs}}});
        click(u"controlPlaneRerun"_qs);
        QTRY_COMPARE(view().argb(u"controlPlaneVerdict"_qs), argb(view().brand().success()));
        QCOMPARE(rows(u"controlPlaneRows"_qs), 1);
        view().saveScreenshot(u"reachable"_qs);
    }
};

QTEST_MAIN(DiagnosticsSectionsViewTest)
#include "vtst_diagnostics_sections.moc"
