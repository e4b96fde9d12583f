#include "DiagnosticsFakes.h"

#include "support/ManualClock.h"
#include "support/view/ViewHarness.h"
#include "ui/design/Brand.h"
#include "ui/design/SheetHost.h"
#include "ui/diagnostics/DiagnosticsModule.h"
#include "ui/diagnostics/DiagnosticsSheet.h"
#include "ui/diagnostics/ProbeResultCard.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QDir>
#include <QQuickWindow>
#include <QSignalSpy>

using namespace kovra;
using namespace kovra::ui;
using namespace std::chrono_literals;
using test::argb;

namespace {

void clickCentre(QWindow *window, QQuickItem *item)
{
    QTest::mouseClick(window, Qt::LeftButton, {},
                      item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint());
}

QString screenshotPath(const QString &name)
{
    const QString env = qEnvironmentVariable("KOVRA_SCREENSHOTS");
    QDir dir(env.isEmpty() ? QCoreApplication::applicationDirPath() + u"/screenshots"_qs : env);
    dir.mkpath(u"."_qs);
    return dir.filePath(u"diagnostics-"_qs + name + u".png"_qs);
}

} // namespace

class DiagnosticsSheetTest : public test::ViewTestCase {
    Q_OBJECT

    // One presentation over the harness's window, with scripted collaborators.
    struct Presented {
        QPointer<SheetHost> host;
        QPointer<DiagnosticsView> model;
        QQuickWindow *window() const { return host->window(); }
        QQuickItem *find(const QString &name) const
        {
            return test::ViewHarness::findIn(host->window()->contentItem(), name);
        }
    };

    test::TestHome m_home{test::TestHome::PathsOnly};
    std::shared_ptr<test::ManualClock> m_clock;
    std::shared_ptr<test::ScriptedProber> m_prober;
    test::FakeControlPlane m_controlPlane;

    Presented present()
    {
        SheetHost *host = DiagnosticsSheet::present(view().window(), nullptr, nullptr,
                                                    test::sheetOptions(m_home.paths(), m_prober, m_controlPlane, m_clock));
        if (!host || !QTest::qWaitForWindowExposed(host->window()))
            return {};
        return {host, host->findChild<DiagnosticsView *>()};
    }

    // The sheet's own window, saved beside the harness's screenshots.
    void saveSheet(QQuickWindow *window, const QString &name)
    {
        QVERIFY(view().waitForFrame());
        QVERIFY(window->grabWindow().save(screenshotPath(name)));
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
    // Probes still waiting on the test's clock end, so that no run outlives the test.
    void cleanup()
    {
        m_clock->advance(10s);
        ViewTestCase::cleanup();
    }

    // A window of its own, modal to its opener only, 480 by 520 at least and opening at
    // 560 by 640 under the chrome titled "Диагностика"; each dismissal ends the
    // presentation once and destroys its view-model.
    void presentation_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close button") << u"button"_qs;
        QTest::newRow("escape") << u"escape"_qs;
        QTest::newRow("window manager") << u"wm"_qs;
        QTest::newRow("opener closes") << u"opener"_qs;
    }
    void presentation()
    {
        QFETCH(QString, how);
        Presented sheet = present();
        QVERIFY(sheet.host && sheet.model);
        QQuickWindow *window = sheet.window();
        QCOMPARE(window->transientParent(), view().window());
        QCOMPARE(window->modality(), Qt::WindowModal);
        QCOMPARE(window->minimumSize(), QSize(480, 520));
        QCOMPARE(window->size(), QSize(560, 640));
        QCOMPARE(window->title(), u"Диагностика"_qs);
        QCOMPARE(sheet.find(u"title"_qs)->property("text").toString(), u"Диагностика"_qs);
        QVERIFY(sheet.model->appearanceWork().isValid());

        QSignalSpy dismissed(sheet.host, &SheetHost::dismissed);
        if (how == u"button") {
            clickCentre(window, sheet.find(u"closeButton"_qs));
        } else if (how == u"escape") {
            // A modal child counts as active while its opener still has the focus; Escape
            // reaches the sheet's shortcut only once the focus has moved.
            window->requestActivate();
            QTRY_COMPARE(QGuiApplication::focusWindow(), static_cast<QWindow *>(window));
            QTest::keyClick(window, Qt::Key_Escape);
        } else if (how == u"wm") {
            window->close();
        } else {
            view().window()->close();
        }
        QTRY_VERIFY(!sheet.host);
        QVERIFY(!sheet.model);
        QCOMPARE(dismissed.count(), 1);
    }

    // Each presentation starts afresh; expanding the details starts no check.
    void freshEachPresentation()
    {
        Presented first = present();
        QTRY_VERIFY(first.model->isRunning());
        m_clock->advance(0ms);
        QVERIFY(test::Pending<void>(first.model->appearanceWork().waitForEnd()).waitDone());
        const int probes = int(m_prober->calls.size());
        clickCentre(first.window(), first.find(u"disclosure"_qs));
        QVERIFY(first.model->showTechnicalDetails());
        QTRY_VERIFY(first.find(u"detailsLoader"_qs)->property("status").toInt() == 1);
        QCOMPARE(m_prober->calls.size(), probes);
        QCOMPARE(m_controlPlane.calls.size(), 1);
        first.host->close();
        QTRY_VERIFY(!first.host);

        Presented second = present();
        QVERIFY(!second.model->showTechnicalDetails());
        QVERIFY(!second.find(u"detailsLoader"_qs)->property("active").toBool());
        QVERIFY(!second.model->hasReport());
        second.host->close();
        QTRY_VERIFY(!second.host);
    }

    // The main states, light and dark: probes running, and the report with the
    // details expanded (texts from probes shown literally, markup and all).
    void states_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("report");
        QTest::newRow("light running") << false << false;
        QTest::newRow("light report") << false << true;
        QTest::newRow("dark report") << true << true;
        QTest::newRow("dark running") << true << false;
    }
    void states()
    {
        QFETCH(bool, dark);
        QFETCH(bool, report);
        view().appearance().setDark(dark);
        const QString markup = u"<b>HTTP 503</b> <a href=\"x\">Service Unavailable</a> &amp; retry"_qs;
        test::scriptProbes(*m_prober,
                           {{true, 48, u"HTTP 200"_qs}, {true, 212, u"HTTP 200 — "_qs + QString(u"203.0.113.7 "_qs).repeated(30)},
                            {false, 1234, markup}, {true, 0, u"TCP connected"_qs},
                            {true, 9, u"104.16.132.229, 104.16.133.229"_qs}, {false, 4000, QString()}},
                           1s);
        Presented sheet = present();
        QQuickWindow *window = sheet.window();
        QTRY_VERIFY(sheet.model->isRunning());
        if (report) {
            m_clock->advance(1s);
            QTRY_VERIFY(sheet.model->hasReport());
            sheet.model->setShowTechnicalDetails(true);
            QTRY_VERIFY(sheet.find(u"probeDetail"_qs));
        }
        QCOMPARE(sheet.find(u"rerunButton"_qs)->isEnabled(), report);
        QCOMPARE(sheet.find(u"copyReportButton"_qs)->isEnabled(), report);
        // The bottom row stays pinned to the foot of the sheet, 16 above its edge.
        QQuickItem *bottom = sheet.find(u"bottomRow"_qs);
        QCOMPARE(bottom->mapToScene(QPointF(0, bottom->height())).y(), window->height() - 16.0);
        saveSheet(window, QString::fromUtf8(QTest::currentDataTag()).replace(u' ', u'-'));

        if (report) {
            QList<QQuickItem *> details;
            const std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
                if (item->objectName() == u"probeDetail")
                    details << item;
                for (QQuickItem *child : item->childItems())
                    collect(child);
            };
            collect(window->contentItem());
            QCOMPARE(details.size(), 6);
            QCOMPARE(details[2]->property("text").toString(), markup);
            QCOMPARE(details[2]->property("textFormat").toInt(), int(Qt::PlainText));
            QVERIFY(!details[5]->isVisible());
            // At the minimum size, scrolled to the end: the last card clears the bottom row.
            window->resize(480, 520);
            auto *scroller = sheet.find(u"scroller"_qs);
            QTRY_COMPARE(scroller->width(), 480.0);
            QTRY_VERIFY(scroller->property("contentHeight").toReal() > scroller->height());
            scroller->setProperty("contentY", scroller->property("contentHeight").toReal() - scroller->height());
            QVERIFY(sheet.find(u"scrollBar"_qs)->isVisible());
            saveSheet(window, QString::fromUtf8(QTest::currentDataTag()).replace(u' ', u'-') + u"-scrolled"_qs);
        }
        sheet.host->close();
        QTRY_VERIFY(!sheet.host);
    }

    // A probe's card: its result symbol and colour, its latency in plain digits, its
    // detail only when it has one.
    void probeCard_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint64>("latency");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("latencyText");
        QTest::newRow("ok") << true << qint64(212) << u"HTTP 200"_qs << u"212 ms"_qs;
        QTest::newRow("failed, empty detail") << false << qint64(4000) << QString() << u"4000 ms"_qs;
        QTest::newRow("latency 0") << true << qint64(0) << u"TCP connected"_qs << u"0 ms"_qs;
        QTest::newRow("latency 1234") << false << qint64(1234) << u"timeout\nretry"_qs << u"1234 ms"_qs;
    }
    void probeCard()
    {
        QFETCH(bool, ok);
        QFETCH(qint64, latency);
        QFETCH(QString, detail);
        registerDiagnosticsModule();
        DiagnosticProbeResult probe{QUuid::createUuid(), u"TCP 1.1.1.1:443"_qs, ok, latency, detail};
        QQuickItem *card = view().show(u"Kovra.Diagnostics/ProbeResultCard"_qs,
                                       {{u"probe"_qs, ProbeResultCard::fields(probe)}, {u"width"_qs, 400}});
        QVERIFY(card);
        QCOMPARE(view().value(u"probeSymbol"_qs, u"text"_qs).toString(), ok ? u"check_circle"_qs : u"dangerous"_qs);
        QCOMPARE(view().argb(u"probeSymbol"_qs), argb(ok ? view().brand().success() : view().brand().danger()));
        QTEST(view().value(u"probeLatency"_qs, u"text"_qs).toString(), "latencyText");
        QCOMPARE(view().isShown(u"probeDetail"_qs), !detail.isEmpty());
        QQuickItem *row = view().find(u"probeName"_qs)->parentItem();
        if (detail.isEmpty())
            QCOMPARE(card->height(), row->height() + 16);
        else
            QCOMPARE(view().value(u"probeDetail"_qs, u"text"_qs).toString(), detail);
        view().saveScreenshot(u"card"_qs);
    }
};

QTEST_MAIN(DiagnosticsSheetTest)
#include "vtst_diagnostics_sheet.moc"
