#include "ConnectivityFakes.h"

#include "support/view/ViewHarness.h"
#include "ui/design/Brand.h"
#include "ui/diagnostics/DiagnosticsModule.h"

#include <QQuickWindow>

using namespace kovra;
using namespace kovra::ui;
using namespace std::chrono_literals;
using test::argb;

class ConnectivitySectionTest : public test::ViewTestCase {
    Q_OBJECT

    std::unique_ptr<test::ConnectivityRig> m_rig;

    qreal top(const QString &name) { return view().find(name)->mapToItem(view().root(), QPointF()).y(); }
    qreal bottom(const QString &name) { return top(name) + view().find(name)->height(); }

private Q_SLOTS:
    void cleanup()
    {
        ViewTestCase::cleanup();
        if (m_rig)
            m_rig->clock->advance(60s);
        m_rig.reset();
    }

    // Each state, light and dark, at the sheet's narrowest column: what shows, the hint,
    // the run button, the panel's geometry and colours. Not connected, a run changes
    // nothing; connecting enables it at once. A run that timed out shows its notice above
    // the report kept from before.
    void states_data()
    {
        QTest::addColumn<int>("status"); // -1: no tunnel controller
        QTest::addColumn<QString>("runs"); // ok, bad: runs in time; late: past the watchdog; open: under way; up: connects
        QTest::addColumn<QString>("shown");
        QTest::newRow("no controller") << -1 << "" << "needs";
        QTest::newRow("idle after reasserting, dark") << 4 << "up" << "idle run";
        QTest::newRow("running") << 3 << "open" << "idle progress";
        QTest::newRow("report") << 3 << "ok" << "report run";
        QTest::newRow("report failing, dark") << 3 << "bad" << "report run";
        QTest::newRow("timed out") << 3 << "late" << "notice run";
        QTest::newRow("timed out, report kept, dark") << 3 << "ok late" << "notice report run";
    }
    void states()
    {
        QFETCH(int, status);
        QFETCH(QString, runs);
        QFETCH(QString, shown);
        registerDiagnosticsModule();
        m_rig = std::make_unique<test::ConnectivityRig>(status);
        // Not connected, a run changes nothing (what shows below would tell).
        if (status != 3)
            test::await(m_rig->section()->runConnectivityCheck());
        for (const QString &run : runs.split(u' ', Qt::SkipEmptyParts)) {
            if (run == u"up") {
                m_rig->tunnel->provider.setStatus(3);
                QTRY_VERIFY(m_rig->section()->runEnabled());
                continue;
            }
            m_rig->script({run != u"bad", true, true, true, run == u"late"}, run == u"late" ? 6s : 1s);
            QVERIFY(m_rig->start());
            m_rig->clock->advance(run == u"open" ? 0s : 36s);
            QTRY_COMPARE(m_rig->section()->connectivityRunning(), run == u"open");
        }
        QQuickItem *section = view().show(u"Kovra.Diagnostics/ConnectivityCheckSection"_qs,
                                          {{u"model"_qs, QVariant::fromValue(m_rig->section())}, {u"width"_qs, 432}});
        QVERIFY(section);
        const bool notice = shown.contains(u"notice"_qs);
        QCOMPARE(view().isShown(u"connectivityTimeout"_qs), notice);
        const bool report = shown.contains(u"report"_qs);
        QVERIFY(view().isShown(u"connectivityReport"_qs) == report && view().isShown(u"connectivityCopyButton"_qs) == report);
        QCOMPARE(view().isShown(u"connectivityProgress"_qs), shown.contains(u"progress"_qs));
        // The idle hint while connected, else the needs-tunnel one; none with a report or a time-out.
        const QString hint = view().isShown(u"connectivityHint"_qs) ? view().value(u"connectivityHint"_qs, u"text"_qs).toString() : QString();
        QVERIFY(hint.startsWith(u"Нажмите «Проверить"_qs) == shown.contains(u"idle"_qs) &&
                hint.startsWith(u"Туннель не подключён"_qs) == shown.contains(u"needs"_qs));
        QCOMPARE(view().find(u"connectivityRunButton"_qs)->isEnabled(), shown.contains(u"run"_qs));

        // A panel of radius 12 on the control background, content inset 8, rows 6 apart.
        QVERIFY(view().real(u"connectivitySection"_qs, u"radius"_qs) == 12 &&
                view().argb(u"connectivitySection"_qs) == argb(view().brand().surface()));
        QVERIFY(top(u"connectivityTitleRow"_qs) == 8 && bottom(u"connectivityButtons"_qs) == section->height() - 8);
        const QString body = notice ? u"connectivityTimeout"_qs : hint.isEmpty() ? u"connectivityReport"_qs : u"connectivityHint"_qs;
        QCOMPARE(top(body), bottom(u"connectivityTitleRow"_qs) + 6);
        if (notice)
            QCOMPARE(view().argb(u"connectivityTimeoutText"_qs), argb(view().brand().warning()));
        if (report) {
            if (notice)
                QCOMPARE(top(u"connectivityReport"_qs), bottom(u"connectivityTimeout"_qs) + 6);
            const bool good = runs.startsWith(u"ok"_qs);
            QCOMPARE(view().argb(u"connectivityVerdict"_qs), argb(good ? view().brand().success() : view().brand().warning()));
            QCOMPARE(view().argb(u"stepSymbol"_qs), argb(good ? view().brand().success() : view().brand().danger()));
            QTest::mouseClick(view().window(), Qt::LeftButton, {},
                              view().find(u"connectivityCountersDisclosure"_qs)->mapToScene({4, 4}).toPoint());
            QTRY_VERIFY(view().isShown(u"connectivityHypothesis"_qs));
        }
        view().saveScreenshot(u"section"_qs);
    }
};

QTEST_MAIN(ConnectivitySectionTest)
#include "vtst_connectivity_check.moc"
