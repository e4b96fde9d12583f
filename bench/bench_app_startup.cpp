// How long the real "kovra" takes from its start to the main window's first frame,
// signed in (against kovra-dev-service and kovra-dev-provider), beside a bare 780 by
// 520 Qt Quick window (a QQuickView with a Rectangle and a Text) started the same way:
// both are child processes timed to their first frameSwapped, launched alternately.
// Also the resident memory of each, a few seconds after that frame. Run it under
// scripts/with-test-env (a display and a Secret Service); see KovraProcess.h.
//
//     bench_app_startup [launches of each]     (7 by default)
//
// Target: kovra's median at most 1.4 times the bare window's.

#include <QCoreApplication>
#include <QTest>

#include <cstdio>
#include <vector>

#include "BenchSupport.h"
#include "KovraProcess.h"

using namespace kovra;
using namespace kovra::bench;

namespace {

constexpr int kSettleMs = 3000;

struct Launch {
    double firstFrameMs = -1;
    double residentMB = 0;
};

// Times a child to its first frame; reads its memory once it has settled.
Launch measure(Child &child)
{
    Launch launch;
    if (const std::optional<qint64> ms = child.awaitFirstFrame())
        launch.firstFrameMs = double(*ms);
    QTest::qWait(kSettleMs);
    if (child.running())
        launch.residentMB = residentMBOf(child.pid());
    child.stop();
    return launch;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--bare") == 0)
        return runBareWindow(argc, argv, kBareWindowQml);

    QCoreApplication application(argc, argv);
    const int launches = argc > 1 ? std::atoi(argv[1]) : 7;
    if (launches < 1 || launches > 100) {
        std::fprintf(stderr, "usage: %s [launches of each, 1 to 100]\n", argv[0]);
        return 2;
    }
    KovraUnderTest kovra;
    if (!kovra.prepare())
        return 1;

    std::vector<double> bareMs, appMs, bareMB, appMB;
    for (int i = 0; i < launches; ++i) {
        Child bare;
        bare.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--bare")}, QProcessEnvironment::systemEnvironment());
        const Launch b = measure(bare);
        std::unique_ptr<Child> app = kovra.launch();
        const Launch a = measure(*app);
        if (b.firstFrameMs < 0 || a.firstFrameMs < 0) {
            std::fprintf(stderr, "no first frame (bare %.0f, kovra %.0f); kovra said:\n%s\n", b.firstFrameMs,
                         a.firstFrameMs, qPrintable(app->output()));
            return 1;
        }
        std::printf("launch %2d: bare %4.0f ms, kovra %4.0f ms\n", i + 1, b.firstFrameMs, a.firstFrameMs);
        bareMs.push_back(b.firstFrameMs);
        appMs.push_back(a.firstFrameMs);
        bareMB.push_back(b.residentMB);
        appMB.push_back(a.residentMB);
    }
    std::printf("%-18s first frame %5.0f ms (median of %d)   resident %6.1f MB\n", "bare Qt Quick view", median(bareMs),
                launches, median(bareMB));
    std::printf("%-18s first frame %5.0f ms (median of %d)   resident %6.1f MB\n", "kovra, signed in", median(appMs),
                launches, median(appMB));
    std::printf("ratio %.2f (target: at most 1.4)\n", median(appMs) / median(bareMs));
    return 0;
}
