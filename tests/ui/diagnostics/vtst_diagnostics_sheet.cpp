#include "DiagnosticsFakes.h"

#include "support/ManualClock.h"
#include "support/view/ViewHarness.h"
#include "ui/design/Brand.h"
#include "ui/design/SheetHost.h"
#include "ui/diagnostics/DiagnosticsModule.h"
#include "ui/diagnostics/DiagnosticsSheet.h"
#include "ui/diagnostics/ProbeResultCard.h"

#include <QCoreApplication>
#include <QDir>
#include <QQuickWindow>
#include <QSignalSpy>

using namespace kovra;
using namespace kovra::ui;
using namespace std::chrono_literals;
using test::argb;
using test::clickCentre;

class DiagnosticsSheetTest : public test::ViewTestCase {
    Q_OBJECT

    test::TestHome m_home{test::TestHome::PathsOnly};
    std::shared_ptr<test::ManualClock> m_clock;
    std::shared_ptr<test::ScriptedProber> m_prober;
    test::FakeControlPlane m_controlPlane;
    QPointer<SheetHost> m_host;
    QPointer<DiagnosticsView> m_model;

    // Presents the sheet over the harness's window, with scripted collaborators.
    bool present()
    {
        m_host = DiagnosticsSheet::present(view().window(), nullptr, nullptr,
                                           test::sheetOptions(m_home.paths(), m_prober, m_controlPlane, m_clock));
        m_model = m_host ? m_host->findChild<DiagnosticsView *>() : nullptr;
        return m_model && QTest::qWaitForWindowExposed(m_host->window());
    }
    QQuickItem *find(const QString &name) const { return test::ViewHarness::findIn(m_host->window()->contentItem(), name); }
    // The sheet's own window, beside the harness's screenshots.
    void saveSheet(const QString &name)
    {
        QVERIFY(view().waitForFrame());
        view().saveScreenshot(name, m_host->window());
    }

private Q_SLOTS:
    void init()
    {
        ViewTestCase::init();
        m_clock = std::make_shared<test::ManualClock>();
        m_prober = std::make_shared<test::ScriptedProber>(m_clock);
        m_controlPlane = {};
        QVERIFY(view().showQml("Rectangle { width: 800; height: 700; color: Brand.background }"));
    }
    void cleanup()
    {
        if (m_host)
            m_host->close();
        QTRY_VERIFY(!m_host);
        // Probes still waiting on the test's clock end, so that no run outlives the test.
        m_clock->advance(10s);
        ViewTestCase::cleanup();
    }

    // A window of its own opening at 560 by 640 (its parent, modality, title and minimum
    // size: the home view's sheet test); a dismissal (the window's own ways: the design's
    // sheet test) or the opener closing ends the presentation once and destroys its
    // view-model; the next one starts afresh at its opening size.
    void presentation_data()
    {
        QTest::addColumn<bool>("opener");
        QTest::newRow("close button") << false;
        QTest::newRow("opener closes") << true;
    }
    void presentation()
    {
        QFETCH(bool, opener);
        QVERIFY(present());
        QQuickWindow *window = m_host->window();
        QCOMPARE(window->size(), QSize(560, 640));
        QVERIFY(m_model->appearanceWork().isValid());

        QSignalSpy dismissed(m_host, &SheetHost::dismissed);
        if (opener)
            view().window()->close();
        else
            clickCentre(window, find(u"closeButton"_qs));
        QTRY_VERIFY(!m_host);
        QVERIFY(!m_model);
        QCOMPARE(dismissed.count(), 1);
        if (opener)
            return;
        QVERIFY(present());
        QVERIFY(!m_model->showTechnicalDetails() && !m_model->hasReport());
        QCOMPARE(m_host->window()->size(), QSize(560, 640));
    }

    // The main states: probes running; the report with the details
    // expanded (which starts no check; a probe's text shown literally, markup and
    // all), then at the minimum
    // size scrolled to its end, the bottom row pinned below the scroll area.
    void states_data()
    {
        QTest::addColumn<bool>("report");
        QTest::newRow("running") << false;
        QTest::newRow("report") << true;
    }
    void states()
    {
        QFETCH(bool, report);
        const QString markup = u"<b>HTTP 503</b> <a href=\"x\">Service Unavailable</a> &amp; retry"_qs;
        test::scriptProbes(*m_prober,
                           {{false, 1234, markup}, {true, 212, u"HTTP 200 — "_qs + u"203.0.113.7 "_qs.repeated(30)},
                            {true, 48, u"HTTP 200"_qs}, {true, 0, u"TCP connected"_qs},
                            {true, 9, u"104.16.132.229, 104.16.133.229"_qs}, {false, 4000, QString()}},
                           1s);
        QVERIFY(present());
        QQuickWindow *window = m_host->window();
        QTRY_VERIFY(m_model->isRunning());
        if (report) {
            m_clock->advance(1s);
            QTRY_COMPARE(m_controlPlane.calls.size(), 1);
            clickCentre(window, find(u"disclosure"_qs));
            QTRY_VERIFY(find(u"probeDetail"_qs));
            // Expanding starts no check.
            QCOMPARE(m_prober->calls.size(), 6);
            QCOMPARE(m_controlPlane.calls.size(), 1);
            QCOMPARE(find(u"probeDetail"_qs)->property("text").toString(), markup);
            QCOMPARE(find(u"probeDetail"_qs)->property("textFormat").toInt(), int(Qt::PlainText));
        }
        QCOMPARE(find(u"rerunButton"_qs)->isEnabled(), report);
        QCOMPARE(find(u"copyReportButton"_qs)->isEnabled(), report);
        saveSheet(u"sheet"_qs);
        if (!report)
            return;

        window->resize(480, 520);
        QQuickItem *scroller = find(u"scroller"_qs);
        QTRY_COMPARE(scroller->width(), 480.0);
        QTRY_VERIFY(scroller->property("contentHeight").toReal() > scroller->height());
        scroller->setProperty("contentY", scroller->property("contentHeight").toReal() - scroller->height());
        QVERIFY(find(u"scrollBar"_qs)->isVisible());
        QQuickItem *bottom = find(u"bottomRow"_qs);
        QCOMPARE(bottom->mapToScene(QPointF(0, bottom->height())).y(), 520.0 - 16);
        QCOMPARE(scroller->mapToScene(QPointF(0, scroller->height())).y(), bottom->mapToScene(QPointF(0, -8)).y());
        saveSheet(u"minimum-scrolled"_qs);
    }

    // A probe's card: its result symbol and colour, its latency in plain digits, its
    // detail only when it has one.
    void probeCard_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint64>("latency");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("latencyText");
        QTest::newRow("ok, latency 0") << true << qint64(0) << u"TCP connected"_qs << u"0 ms"_qs;
        QTest::newRow("failed, empty detail, latency 1234") << false << qint64(1234) << QString() << u"1234 ms"_qs;
        QTest::newRow("multi-line detail") << false << qint64(4000) << u"timeout\nretry"_qs << u"4000 ms"_qs;
    }
    void probeCard()
    {
        QFETCH(bool, ok);
        QFETCH(qint64, latency);
        QFETCH(QString, detail);
        registerDiagnosticsModule();
        const DiagnosticProbeResult probe{QUuid::createUuid(), u"TCP 1.1.1.1:443"_qs, ok, latency, detail};
        QQuickItem *card = view().show(u"Kovra.Diagnostics/ProbeResultCard"_qs,
                                       {{u"probe"_qs, ProbeResultCard::fields(probe)}, {u"width"_qs, 400}});
        QVERIFY(card);
        QCOMPARE(view().value(u"probeSymbol"_qs, u"text"_qs).toString(), ok ? u"check_circle"_qs : u"dangerous"_qs);
        QCOMPARE(view().argb(u"probeSymbol"_qs), argb(ok ? view().brand().success() : view().brand().danger()));
        QTEST(view().value(u"probeLatency"_qs, u"text"_qs).toString(), "latencyText");
        QCOMPARE(view().isShown(u"probeDetail"_qs), !detail.isEmpty());
        QCOMPARE(view().value(u"probeDetail"_qs, u"text"_qs).toString(), detail);
        view().saveScreenshot(u"card"_qs);
    }
};

QTEST_MAIN(DiagnosticsSheetTest)
#include "vtst_diagnostics_sheet.moc"
