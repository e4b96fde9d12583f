// What the main window costs while it shows a connection: the CPU of the real "kovra",
// signed in against kovra-dev-service and kovra-dev-provider, connected and verified
// (the connect button's ring pulses), beside a bare 780 by 520 Qt Quick window that
// runs only that ring; then the same kovra with its window unmapped, as a minimised
// window is, which should cost next to nothing. Runs alternate between the two
// processes. Run it under scripts/with-test-env (see KovraProcess.h); it needs X11 to
// unmap the window.
//
//     bench_connected_window [seconds per measurement] [rounds]     (10 and 3 by default)
//
// Targets: kovra shown at most 1.2 times the ring's CPU; unmapped under 0.2 % of a core.
// Each round also lists the threads that ran during the unmapped measurement, with their
// CPU time, so that what an idle app spends can be told apart (the GUI thread's timers
// and requests, the HTTP body guard, Qt's network threads).
//
// With Mesa's software GL nearly all of the shown figure is rasterising the whole
// window again each frame. Drawing the still parts once into textures (layers, the
// glow effect's own cache) measured dearer there, not cheaper: a texture is sampled
// and blended per pixel just as the shapes and glows are drawn.

#include <QGuiApplication>
#include <QTest>

#include <cstdio>
#include <vector>

#include <xcb/xcb.h>

#include "BenchSupport.h"
#include "KovraProcess.h"

using namespace kovra;
using namespace kovra::bench;

namespace {

// The share of a core a child uses over `seconds`, in percent.
double corePercent(const Child &child, int seconds)
{
    const double before = cpuSecondsOf(child.pid());
    QTest::qWait(seconds * 1000);
    return (cpuSecondsOf(child.pid()) - before) * 100.0 / seconds;
}

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, uint16_t(qstrlen(name)), name), nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return found;
}

// The viewable top-level windows of a process (by _NET_WM_PID).
std::vector<xcb_window_t> windowsOf(xcb_connection_t *connection, qint64 pid)
{
    std::vector<xcb_window_t> found;
    const xcb_atom_t pidAtom = atom(connection, "_NET_WM_PID");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_query_tree_reply_t *tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr);
    if (!tree)
        return found;
    const xcb_window_t *children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
        xcb_get_property_reply_t *property = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, children[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
            connection, xcb_get_window_attributes(connection, children[i]), nullptr);
        if (property && xcb_get_property_value_length(property) == 4
            && *static_cast<const uint32_t *>(xcb_get_property_value(property)) == uint32_t(pid) && attributes
            && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
            found.push_back(children[i]);
        free(property);
        free(attributes);
    }
    free(tree);
    return found;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--ring") == 0)
        return runBareWindow(argc, argv, kRingWindowQml);

    QGuiApplication application(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    auto *x11 = application.nativeInterface<QNativeInterface::QX11Application>();
    if (seconds < 1 || seconds > 600 || rounds < 1 || rounds > 50 || !x11) {
        std::fprintf(stderr, "usage: %s [seconds, 1 to 600] [rounds, 1 to 50], on X11\n", argv[0]);
        return 2;
    }
    xcb_connection_t *connection = x11->connection();
    KovraUnderTest kovra;
    if (!kovra.prepare())
        return 1;

    std::vector<double> ring, shown, unmapped, resident;
    for (int round = 1; round <= rounds; ++round) {
        Child bare;
        bare.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--ring")},
                   QProcessEnvironment::systemEnvironment());
        if (!bare.awaitFirstFrame())
            return 1;
        QTest::qWait(2000);
        ring.push_back(corePercent(bare, seconds));
        bare.stop();

        std::unique_ptr<Child> app = kovra.launch();
        if (!app->awaitFirstFrame() || (round == 1 && !kovra.startTunnel())) {
            std::fprintf(stderr, "kovra did not start or connect:\n%s\n", qPrintable(app->output()));
            return 1;
        }
        // Connected, then verified by its reachability probes.
        QTest::qWait(5000);
        shown.push_back(corePercent(*app, seconds));
        const std::vector<xcb_window_t> windows = windowsOf(connection, app->pid());
        for (xcb_window_t window : windows)
            xcb_unmap_window(connection, window);
        xcb_flush(connection);
        QTest::qWait(2000);
        const std::map<QString, double> threadsBefore = threadCpuMsOf(app->pid());
        unmapped.push_back(corePercent(*app, seconds));
        const std::map<QString, double> threadsAfter = threadCpuMsOf(app->pid());
        resident.push_back(residentMBOf(app->pid()));
        std::printf("round %d: ring %5.1f %%, kovra shown %5.1f %%, unmapped (%zu windows) %5.2f %% of a core, %.1f MB "
                    "resident\n",
                    round, ring.back(), shown.back(), windows.size(), unmapped.back(), resident.back());
        for (const auto &[thread, ms] : threadsAfter) {
            const auto before = threadsBefore.find(thread);
            const double spent = ms - (before == threadsBefore.end() ? 0.0 : before->second);
            if (spent >= 0.5)
                std::printf("    unmapped, thread %-28s %8.1f ms\n", qPrintable(thread), spent);
        }
        std::fflush(stdout);
    }
    std::printf("medians of %d rounds, %d s each:\n", rounds, seconds);
    std::printf("  bare window, ring only    %6.2f %% of a core\n", median(ring));
    std::printf("  kovra connected, shown    %6.2f %% of a core   ratio %.2f (target: at most 1.2)\n", median(shown),
                median(shown) / median(ring));
    std::printf("  kovra connected, unmapped %6.2f %% of a core   (target: under 0.2), %.1f MB resident\n",
                median(unmapped), median(resident));
    return 0;
}
