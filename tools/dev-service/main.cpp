// kovra-dev-service: the local stand-in of the service API. Prints
// "base-urls: <url>,<url>,<url>" (the form KOVRA_API_BASE_URLS takes) once it listens,
// one log line per request after that, and ends cleanly on Ctrl-C or SIGTERM.

#include "dev-service/DevService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace kovra::devservice;

namespace {

int signalPipe[2] = {-1, -1};

// Only write() is safe in a signal handler: the event loop reads the pipe and quits.
void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kovra-dev-service"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local stand-in of the Kovra service API on three loopback hosts."));
    parser.addHelpOption();
    addDevServiceOptions(parser);
    parser.process(app);

    QString error;
    const auto options = devServiceOptions(parser, &error);
    if (!options) {
        std::fprintf(stderr, "kovra-dev-service: %s\n", qPrintable(error));
        return 2;
    }
    if (::pipe(signalPipe) != 0) {
        std::perror("kovra-dev-service: pipe");
        return 1;
    }
    QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM})
        sigaction(sig, &action, nullptr);

    DevService service(*options);
    if (!service.start(&error)) {
        std::fprintf(stderr, "kovra-dev-service: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(service.startLine()));
    std::fflush(stdout);
    return app.exec();
}
