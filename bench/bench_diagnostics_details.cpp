// Opens the diagnostics sheet over a container holding three 512 KB configuration
// texts and a 512 KB start-up log, with scripted collaborators (nothing leaves the
// machine), and measures:
//  - the longest stall of the GUI thread from the call that presents the sheet until
//    the snapshots are loaded and drawn, in a second presentation (the first compiles
//    the QML), a 1 ms timer recording the longest gap between its ticks (target under
//    50 ms);
//  - the time from expanding the technical details to the next frame (median of
//    several rounds), beside the same for bare TextEdits showing the same four texts
//    at the same width, in a window of the same size (target at most 1.5 times).
// Needs a display (scripts/with-test-env).

#include "diagnostics/AppGroupFiles.h"
#include "ui/design/Appearance.h"
#include "ui/design/DesignModule.h"
#include "ui/design/PreviewHost.h"
#include "ui/design/SheetHost.h"
#include "ui/diagnostics/DiagnosticsSheet.h"
#include "ui/diagnostics/DiagnosticsView.h"

#include "ui/diagnostics/DiagnosticsFakes.h"

#include "BenchSupport.h"
#include "OpenerWindow.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kovra;
using namespace kovra::ui;

using kovra::bench::median;

namespace {

constexpr int kRounds = 9;
constexpr qsizetype kTextBytes = 512 * 1024;

// About `bytes` of pretty-printed configuration, one outbound after another.
QByteArray configText(const char *tag)
{
    QByteArray out = "{\n  \"outbounds\": [\n";
    for (int i = 0; out.size() < kTextBytes; ++i) {
        out += QByteArray("    {\"type\": \"vless\", \"tag\": \"") + tag + "-" + QByteArray::number(i)
               + "\", \"server\": \"203.0.113." + QByteArray::number(i % 250)
               + "\", \"server_port\": 443, \"uuid\": \"***\", \"flow\": \"xtls-rprx-vision\"},\n";
    }
    return out + "  ]\n}\n";
}

QByteArray logText()
{
    QByteArray out;
    for (int i = 0; out.size() < kTextBytes; ++i)
        out += "2026-12-05T17:06:" + QByteArray::number(i % 60) + "Z startup step " + QByteArray::number(i)
               + ": tun opened, dns ready, outbound selected\n";
    return out;
}

// Milliseconds from `change` to the next frame `window` swaps.
template<typename Change>
double timeToNextFrame(QQuickWindow *window, Change change)
{
    bool drawn = false;
    const QMetaObject::Connection c =
        QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] { drawn = true; });
    QElapsedTimer timer;
    timer.start();
    change();
    const bool ok = QTest::qWaitFor([&] { return drawn; }, 10000);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    QObject::disconnect(c);
    return ok ? ms : -1;
}

// The longest gap between the ticks of a 1 ms timer while it runs.
class StallMeter {
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    double longestMS() const { return double(m_longest) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Four plain TextEdits in the cards' font, one under the other, wrapping at the
// width of a card's text.
const char *const kBareTexts = R"(
import QtQuick
import Kovra.Design
Item {
    property var texts: []
    property alias active: loader.active
    Loader {
        id: loader
        active: false
        x: 32
        width: parent.width - 64
        sourceComponent: Column {
            Repeater {
                model: texts
                TextEdit {
                    required property string modelData
                    width: loader.width
                    text: modelData
                    readOnly: true
                    textFormat: TextEdit.PlainText
                    wrapMode: TextEdit.Wrap
                    font: Brand.monoFont
                }
            }
        }
    }
}
)";

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kovra.*=false"));
    bench::OpenerWindow opener;
    if (!opener.show())
        return 1;
    QQmlEngine &engine = opener.engine;

    test::TestHome home(test::TestHome::PathsOnly);
    const AppGroupContainer container(home.paths(), DiagnosticsView::appGroupIdentifier());
    const QList<QByteArray> texts{configText("summary"), configText("fetched"), configText("sanitized"), logText()};
    if (!container.write(DiagnosticsFiles::configSummary, texts[0])
        || !container.write(DiagnosticsFiles::configFetched, texts[1])
        || !container.write(DiagnosticsFiles::configSanitized, texts[2])
        || !container.write(DiagnosticsFiles::lastStartup, texts[3]))
        return 1;

    test::FakeControlPlane controlPlane;
    auto prober = std::make_shared<test::ScriptedProber>();
    QPointer<SheetHost> host;
    DiagnosticsView *model = nullptr;
    // Presents the sheet and waits until the snapshots are in and drawn.
    const auto open = [&] {
        host = DiagnosticsSheet::present(opener.window(), nullptr, nullptr,
                                         test::sheetOptions(home.paths(), prober, controlPlane), &engine);
        model = host ? host->findChild<DiagnosticsView *>() : nullptr;
        if (!model || !QTest::qWaitFor([&] { return model->fetchedConfig() && model->lastStartup(); }, 10000))
            return false;
        QTest::qWait(200);
        return true;
    };
    // The first presentation compiles the sheet's QML; the measured one is the second.
    if (!open())
        return 1;
    host->close();
    if (!QTest::qWaitFor([&] { return host.isNull(); }, 5000))
        return 1;
    double stall = 0;
    {
        StallMeter meter;
        if (!open())
            return 1;
        stall = meter.longestMS();
    }

    std::vector<double> sheet;
    for (int round = 0; round < kRounds; ++round) {
        sheet.push_back(timeToNextFrame(host->window(), [&] { model->setShowTechnicalDetails(true); }));
        timeToNextFrame(host->window(), [&] { model->setShowTechnicalDetails(false); });
    }
    host->close();
    if (!QTest::qWaitFor([&] { return host.isNull(); }, 5000))
        return 1;

    PreviewHost bare(engine);
    QStringList strings;
    for (const QByteArray &text : texts)
        strings.append(QString::fromUtf8(text));
    if (!bare.loadSource(kBareTexts, {{QStringLiteral("texts"), strings}, {QStringLiteral("width"), 560}},
                         {0, DiagnosticsSheet::kOpeningSize})
             .isEmpty())
        return 1;
    bare.window()->show();
    if (!QTest::qWaitForWindowExposed(bare.window()))
        return 1;
    std::vector<double> baseline;
    for (int round = 0; round < kRounds; ++round) {
        baseline.push_back(timeToNextFrame(bare.window(), [&] { bare.item()->setProperty("active", true); }));
        timeToNextFrame(bare.window(), [&] { bare.item()->setProperty("active", false); });
    }

    const double expand = median(sheet);
    const double bareExpand = median(baseline);
    std::printf("expanding the technical details over 3 x 512 KB configuration and a 512 KB log, to the next frame: "
                "median %.1f ms over %d rounds\n",
                expand, kRounds);
    std::printf("bare TextEdits with the same texts (baseline): median %.1f ms\n", bareExpand);
    std::printf("details / baseline: %.2f (target at most 1.50)\n", expand / bareExpand);
    std::printf("longest GUI-thread stall while the sheet opens over these files: %.1f ms (target under 50 ms)\n", stall);
    return 0;
}
