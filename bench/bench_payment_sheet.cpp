// Opens the payment sheet over an opener window and closes it again, 200 times, and
// then does the same with a bare Qt Quick child window (transient for the opener,
// window-modal, 420 by 520). Prints the growth of the resident memory of each between
// its 20th and last round. Target: the sheet grows at most 2 MB more than the bare
// window. The sheet's services are absent (nothing is paid, nothing leaves the
// machine). Needs a display (scripts/with-test-env). In the sanitizer build, run it
// with ASAN_OPTIONS=quarantine_size_mb=0: the quarantine keeps freed memory resident
// and would count every freed window as growth.

#include "ui/account/AccountModule.h"
#include "ui/account/AccountScreens.h"
#include "ui/account/PaymentMethodSheet.h"
#include "ui/design/Appearance.h"
#include "ui/design/DesignModule.h"
#include "ui/design/PreviewHost.h"
#include "ui/design/SheetHost.h"

#include "BenchSupport.h"
#include "OpenerWindow.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTest>

#include <cstdio>
#include <functional>

using namespace kovra;
using namespace kovra::ui;

using kovra::bench::residentMB;

namespace {

constexpr int kRounds = 200;
constexpr int kWarmRounds = 20;

// Runs `round` kRounds times (false stops the run); the growth in MB after the warm
// rounds, or a negative value when a round failed.
double growth(const std::function<bool()> &round)
{
    double warm = 0;
    for (int i = 0; i < kRounds; ++i) {
        if (!round())
            return -1;
        QTest::qWait(2);
        if (i + 1 == kWarmRounds)
            warm = residentMB();
    }
    return residentMB() - warm;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kovra.*=false"));
    registerAccountModule();
    bench::OpenerWindow opener;
    if (!opener.show())
        return 1;
    QQmlEngine &engine = opener.engine;

    const AccountScreens screens(AccountServices{});
    const TariffEntry plan{QStringLiteral("plan-3m"), {3, 549, 420, 6.456, 100}};
    const double sheet = growth([&] {
        QPointer<SheetHost> host = screens.presentPaymentMethod(opener.window(), plan, &engine);
        if (!host || !QTest::qWaitForWindowExposed(host->window()))
            return false;
        host->dismiss();
        return QTest::qWaitFor([&] { return host.isNull(); }, 5000);
    });

    const double bare = growth([&] {
        auto window = std::make_unique<QQuickWindow>();
        window->setTransientParent(opener.window());
        window->setModality(Qt::WindowModal);
        window->resize(PaymentMethodSheet::kMinimumSize);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            return false;
        window->close();
        window.reset();
        return true;
    });
    if (sheet < 0 || bare < 0) {
        std::fprintf(stderr, "bench_payment_sheet: a window did not show\n");
        return 1;
    }
    std::printf("payment sheet, open and close x%d: resident growth after round %d: %.2f MB\n", kRounds, kWarmRounds,
                sheet);
    std::printf("bare Qt Quick child window (baseline):      %.2f MB\n", bare);
    std::printf("sheet - baseline: %.2f MB (target at most 2.00)\n", sheet - bare);
    return 0;
}
