#include "app/CommandLine.h"
#include "app/ExternalTargets.h"
#include "app/shell/AppShell.h"
#include "platform/PlatformPaths.h"
#include "platform/QuitSignals.h"
#include "tunnel/VPNToggleIntent.h"
#include "ui/design/DesktopAppearance.h"

#include <QApplication>
#include <QIcon>
#include <QMetaObject>
#include <QPointer>

#include <chrono>
#include <cstdio>
#include <optional>

namespace {

void printLine(const QString &text)
{
    std::fprintf(stderr, "kovra: %s\n", qPrintable(text));
}

// Claims the one app per user and shows the main window; a process that is not the
// one (or cannot tell) ends with 0 when the other answered, else 1.
QCoro::Task<void> launch(QPointer<kovra::AppShell> shell)
{
    try {
        const kovra::AppShell::Claim claim = co_await shell->start();
        // A quit (Ctrl+Q or a signal) during the start, or a main window that could not
        // be built, has ended the loop already.
        if (!shell || claim == kovra::AppShell::Claim::Primary || shell->hasQuit())
            co_return;
        if (claim == kovra::AppShell::Claim::HandedOver) {
            QCoreApplication::exit(0);
            co_return;
        }
        printLine(shell->problem());
        QCoreApplication::exit(1);
    } catch (const std::exception &e) {
        printLine(QString::fromUtf8(e.what()));
        QCoreApplication::exit(1);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    // Only the app itself needs a display: nothing else makes a GUI object. The VPN
    // switch never reaches a running app.
    switch (kovra::launchActionFor(args)) {
    case kovra::LaunchAction::SwitchVPN:
        return kovra::runToggleCommandLine(args, kovra::PlatformPaths::fromEnvironment());
    case kovra::LaunchAction::PrintHelp:
        std::fputs(kovra::usageText().constData(), stdout);
        return 0;
    case kovra::LaunchAction::PrintVersion:
        std::fputs(kovra::versionText().constData(), stdout);
        return 0;
    case kovra::LaunchAction::Refuse:
        std::fputs(kovra::usageText().constData(), stderr);
        return 2;
    case kovra::LaunchAction::RunApp:
        break;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kovra"));
    QApplication::setApplicationDisplayName(QStringLiteral("Kovra S"));
    // The desktop finds the entry, and with it the icon, of the app's windows by these.
    QApplication::setDesktopFileName(QStringLiteral(KOVRA_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/" KOVRA_APP_ID ".svg")));
    // Closing windows never ends the app by itself: the shell decides.
    QApplication::setQuitOnLastWindowClosed(false);
    // One of Qt's options that this platform does not take (-display on Wayland).
    if (QCoreApplication::arguments().size() > 1) {
        std::fputs(kovra::usageText().constData(), stderr);
        return 2;
    }

    // A desktop ends its session with SIGTERM: quit as Ctrl+Q does (from the event loop).
    // The handlers stay until the shell is gone, so a second signal during its teardown
    // still ends the process.
    QPointer<kovra::AppShell> running;
    const kovra::QuitSignals quitSignals([&running] {
        if (running)
            running->quit();
    });
    std::optional<kovra::AppShell> shell;
    try {
        kovra::ShellOptions shellOptions;
        shellOptions.reduceMotionRequested = kovra::ui::DesktopAppearance::reduceMotionRequestedByEnvironment();
        // For start-up measurements: one line with the monotonic clock's milliseconds.
        if (qEnvironmentVariable("KOVRA_PRINT_FIRST_FRAME") == u"1")
            shellOptions.firstFrameShown = [] {
                const auto now = std::chrono::steady_clock::now().time_since_epoch();
                std::printf("first-frame %lld\n",
                            static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
                std::fflush(stdout);
            };
        shell.emplace(kovra::AppOptions::fromEnvironment(), std::move(shellOptions));
        running = &*shell;
    } catch (const kovra::Error &e) {
        printLine(e.description());
        return 1;
    } catch (const std::exception &e) {
        printLine(QString::fromUtf8(e.what()));
        return 1;
    }
    // Starts inside the event loop, so that an early exit() is not lost.
    QMetaObject::invokeMethod(
        &application, [&shell] { launch(QPointer<kovra::AppShell>(&*shell)); }, Qt::QueuedConnection);
    return QApplication::exec();
}
