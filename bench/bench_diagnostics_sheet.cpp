// Opens and closes the diagnostics sheet 100 times over an opener window, with
// scripted collaborators (nothing leaves the machine). Prints the median time from
// the call that presents it to its first frame, beside the same for a bare Qt Quick
// window of the same size opened 100 times afterwards, and the growth of the resident
// memory between the sheet's 10th and last round. Targets: at most 1.5 times the bare
// window, under 5 MB of growth. The first presentation builds the sheet's window;
// later ones reuse it. Needs a display (scripts/with-test-env).

#include "ui/design/Appearance.h"
#include "ui/design/DesignModule.h"
#include "ui/design/PreviewHost.h"
#include "ui/design/SheetHost.h"
#include "ui/diagnostics/DiagnosticsSheet.h"

#include "ui/diagnostics/DiagnosticsFakes.h"

#include "BenchSupport.h"
#include "OpenerWindow.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kovra;
using namespace kovra::ui;

using kovra::bench::residentMB;

using kovra::bench::median;

namespace {

constexpr int kRounds = 100;
constexpr int kWarmRounds = 10;

// Milliseconds from `open` to the window's first frame.
template<typename Open>
double timeToFirstFrame(Open open)
{
    bool drawn = false;
    QElapsedTimer timer;
    timer.start();
    QQuickWindow *window = open();
    if (!window)
        return -1;
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] { drawn = true; });
    if (!QTest::qWaitFor([&] { return drawn; }, 5000))
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

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
    test::FakeControlPlane controlPlane;
    std::vector<double> sheets;
    double warmMB = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto prober = std::make_shared<test::ScriptedProber>();
        QPointer<SheetHost> host;
        const double sheet = timeToFirstFrame([&]() -> QQuickWindow * {
            host = DiagnosticsSheet::present(opener.window(), nullptr, nullptr,
                                             test::sheetOptions(home.paths(), prober, controlPlane), &engine);
            return host ? host->window() : nullptr;
        });
        if (sheet < 0) {
            std::fprintf(stderr, "bench_diagnostics_sheet: the sheet did not draw\n");
            return 1;
        }
        sheets.push_back(sheet);
        host->close();
        // The host goes, and the probes of the closed sheet end, before the next round.
        if (!QTest::qWaitFor([&] { return host.isNull(); }, 5000))
            return 1;
        QTest::qWait(5);
        if (round + 1 == kWarmRounds)
            warmMB = residentMB();
    }
    const double growth = residentMB() - warmMB;

    std::vector<double> bare;
    for (int round = 0; round < kRounds; ++round) {
        std::unique_ptr<QQuickWindow> window;
        bare.push_back(timeToFirstFrame([&] {
            window = std::make_unique<QQuickWindow>();
            window->setTransientParent(opener.window());
            window->resize(DiagnosticsSheet::kOpeningSize);
            window->show();
            return window.get();
        }));
        window.reset();
        QTest::qWait(5);
    }
    const double sheet = median(sheets);
    const double baseline = median(bare);
    std::printf("diagnostics sheet, present to first frame: median %.1f ms over %d rounds (first %.1f ms)\n", sheet,
                kRounds, sheets.front());
    std::printf("bare Qt Quick window %dx%d (baseline):      median %.1f ms\n", DiagnosticsSheet::kOpeningSize.width(),
                DiagnosticsSheet::kOpeningSize.height(), baseline);
    std::printf("sheet / baseline: %.2f (target at most 1.50)\n", sheet / baseline);
    std::printf("resident memory growth after round %d: %.2f MB (target under 5 MB)\n", kWarmRounds, growth);
    return 0;
}
