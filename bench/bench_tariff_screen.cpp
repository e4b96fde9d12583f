// Shows the tariff screen over a reply of 20,000 plans and, as the baseline in the
// same run, over one of 5, from the fake service on loopback (nothing leaves the
// machine). For each prints the median, over 7 loads, of the time from the start of a
// load (request, reply, decoding, sorting, the list's reset) to the first frame drawn
// after it, and the growth of the resident memory from before the screen was shown
// to after its first loaded frame. Targets: the large reply within 10 times the small
// one's time and under 50 MB more memory. Needs a display (scripts/with-test-env).
// In the sanitizer build, run it with ASAN_OPTIONS=quarantine_size_mb=0.

#include "ui/account/AccountModule.h"
#include "ui/account/BuyModel.h"
#include "ui/design/Appearance.h"
#include "ui/design/DesignModule.h"
#include "ui/design/PreviewHost.h"

#include "ui/account/BuyFakes.h"

#include "BenchSupport.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kovra;
using namespace kovra::ui;

using kovra::bench::residentMB;

namespace {

constexpr int kLoads = 7;

QByteArray reply(int plans)
{
    QByteArray body = "{";
    for (int i = 0; i < plans; ++i) {
        body += (i ? "," : "") + QStringLiteral(R"("plan-%1":{"months":%2,"rub":%3,"stars":%4,"usdt":%5,"monthly_quota_gb":100})")
                                     .arg(i)
                                     .arg(1 + i % 24)
                                     .arg(300 * (1 + i % 24) - i % 97)
                                     .arg(150 + i % 500)
                                     .arg(1.5 + (i % 40) / 4.0)
                                     .toUtf8();
    }
    return body + "}";
}

// Milliseconds from the start of a load to the first frame after its result.
double loadToFrame(BuyModel &model, QQuickWindow &window)
{
    bool drawn = false;
    QElapsedTimer timer;
    timer.start();
    test::Pending<void> load(model.load());
    if (!load.waitDone(std::chrono::seconds(60)) || model.planCount() == 0)
        return -1;
    const QMetaObject::Connection frame = QObject::connect(&window, &QQuickWindow::frameSwapped, &window, [&] { drawn = true; });
    const bool ok = QTest::qWaitFor([&] { return drawn; }, 5000);
    QObject::disconnect(frame);
    return ok ? double(timer.nsecsElapsed()) / 1e6 : -1;
}

struct Figure {
    double ms = -1;
    double mb = 0;
};

Figure measure(QQmlEngine &engine, int plans)
{
    test::BuyRig rig;
    rig.scriptMe({test::BuyRig::record(true)});
    test::await(rig.me.refresh());
    rig.scriptTariffs({test::FakeReply::json(200, reply(plans))});

    Figure figure;
    const double before = residentMB();
    PreviewHost host(engine);
    BuyModel *model = AccountScreens(rig.services()).buy();
    const QString error = host.load(PreviewHost::moduleFile(QStringLiteral("Kovra.Account"), QStringLiteral("BuyView")),
                                    {{QStringLiteral("model"), QVariant::fromValue(model)}, {QStringLiteral("width"), 460},
                                     {QStringLiteral("height"), 720}});
    if (!error.isEmpty() || !QTest::qWaitFor([&] { return model->planCount() == plans && !model->isLoading(); }, 60000))
        return figure;
    host.window()->show();
    if (!QTest::qWaitForWindowExposed(host.window()))
        return figure;
    std::vector<double> times;
    for (int i = 0; i < kLoads; ++i)
        times.push_back(loadToFrame(*model, *host.window()));
    figure.mb = residentMB() - before;
    std::sort(times.begin(), times.end());
    figure.ms = times.front() < 0 ? -1 : times[times.size() / 2];
    return figure;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kovra.*=false"));
    registerAccountModule();
    QQmlEngine engine;
    Appearance appearance;
    prepareEngine(engine, &appearance);

    measure(engine, 5); // warm-up: the module's QML, fonts and the GL context
    const Figure small = measure(engine, 5);
    const Figure large = measure(engine, 20000);
    if (small.ms < 0 || large.ms < 0) {
        std::fprintf(stderr, "bench_tariff_screen: a load or a frame did not come\n");
        return 1;
    }
    std::printf("tariff screen, 5 plans (baseline):  load to first frame %.1f ms, memory +%.1f MB\n", small.ms, small.mb);
    std::printf("tariff screen, 20000 plans:         load to first frame %.1f ms, memory +%.1f MB\n", large.ms, large.mb);
    std::printf("ratio %.1fx (target at most 10), memory %.1f MB more (target under 50)\n", large.ms / small.ms,
                large.mb - small.mb);
    return 0;
}
