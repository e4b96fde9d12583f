// What the HTTP body guard costs an app that is idle but for its short requests: one
// authenticated GET every 2 s with the API client's body cap, as the connected app makes
// them, against a loopback host on a kept-alive connection. The same requests run with
// the guard on and with it off, beside an idle event loop that sends nothing, each in a
// process of its own so that each CPU figure is that process's alone. The three run side
// by side, so a round sees one machine's load.
//
//     bench_http_guard_idle [seconds per round] [rounds]     (60 and 3 by default)
//
// Target: the requests with the guard on cost at most 1.1 times those with it off, the
// spread of the guard-off rounds being the run-to-run noise.

#include "core/APIClient.h"
#include "platform/Async.h"
#include "platform/Http.h"
#include "platform/HttpBodyGuard.h"

#include <QCoreApplication>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "BenchSupport.h"
#include "loopback-http/BlastServer.h"

using namespace kovra;
using namespace kovra::bench;
using namespace std::chrono_literals;

namespace {

constexpr auto kEvery = 2s;

// CPU seconds of every thread of this process so far, to the nanosecond.
double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

constexpr qint64 kCap = APIClient::defaultMaxBodyBytes;

QCoro::Task<int> sendEvery(HttpSession *session, QUrl url, int count)
{
    int answered = 0;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            co_await sleepFor(kEvery);
        QNetworkRequest request(url);
        request.setRawHeader("Authorization", "Bearer bench-token");
        request.setRawHeader("Accept", "application/json");
        try {
            const HttpResponse response = co_await session->send("GET", request, {}, {}, kCap);
            answered += response.statusCode == 200 ? 1 : 0;
        } catch (const URLError &) {
        }
    }
    co_return answered;
}

QCoro::Task<void> runClient(QString mode, QUrl url, int seconds)
{
    HttpSession session(HttpSession::Kind::Default, 10s);
    HttpBodyGuard::instance().setEnabled(mode == u"guard-on");
    // The first request opens the connection (and starts the guard): one-time costs
    // that the figure leaves out.
    if (mode != u"idle")
        co_await sendEvery(&session, url, 1);
    const double start = processCpuSeconds();
    int answered = 0;
    if (mode == u"idle")
        co_await sleepFor(std::chrono::seconds(seconds));
    else
        answered = co_await sendEvery(&session, url, seconds / int(kEvery.count()));
    const double cpu = processCpuSeconds() - start;
    std::printf("cpu %.6f rss %.1f answered %d\n", cpu, residentMB(), answered);
    std::fflush(stdout);
    QCoreApplication::exit(0);
}

struct Figures {
    double cpuMs = 0;
    double residentMb = 0;
    int answered = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--client") == 0) {
        runClient(QString::fromLatin1(argv[2]), QUrl(QString::fromLatin1(argv[3])), std::atoi(argv[4]));
        return QCoreApplication::exec();
    }
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (seconds < 2 || seconds > 3600 || rounds < 1 || rounds > 50) {
        std::fprintf(stderr, "usage: %s [seconds, 2 to 3600] [rounds, 1 to 50]\n", argv[0]);
        return 2;
    }
    loopback::BlastAnswer answer;
    answer.body = R"({"id":1,"telegram_id":null,"email":null,"created_at":"2026-01-01T00:00:00Z"})";
    answer.head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
                + QByteArray::number(answer.body.size()) + "\r\n\r\n";
    loopback::BlastServer host(answer);
    if (!host.isListening())
        return 1;
    const QStringList modes = {QStringLiteral("guard-off"), QStringLiteral("guard-on"), QStringLiteral("idle")};
    std::vector<std::vector<Figures>> figures(size_t(modes.size()));
    for (int round = 1; round <= rounds; ++round) {
        std::vector<std::unique_ptr<QProcess>> clients;
        for (const QString &mode : modes) {
            auto client = std::make_unique<QProcess>();
            client->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            client->start(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("--client"), mode, host.url(QStringLiteral("/api/me")).toString(),
                           QString::number(seconds)});
            clients.push_back(std::move(client));
        }
        for (size_t i = 0; i < clients.size(); ++i) {
            Figures f;
            const QByteArray line = clients[i]->waitForFinished(seconds * 1000 + 30000)
                                  ? clients[i]->readAllStandardOutput().trimmed() : QByteArray();
            if (std::sscanf(line.constData(), "cpu %lf rss %lf answered %d", &f.cpuMs, &f.residentMb, &f.answered) != 3) {
                std::fprintf(stderr, "the %s client did not report: %s\n", qPrintable(modes[int(i)]), line.constData());
                return 1;
            }
            f.cpuMs *= 1000;
            figures[i].push_back(f);
        }
        std::printf("round %d: guard off %7.2f ms, guard on %7.2f ms, idle loop %6.2f ms of CPU in %d s\n", round,
                    figures[0].back().cpuMs, figures[1].back().cpuMs, figures[2].back().cpuMs, seconds);
        std::fflush(stdout);
    }
    // One figure of every round of a mode.
    const auto figuresOf = [&figures](size_t mode, double Figures::*figure) {
        std::vector<double> values;
        for (const Figures &f : figures[mode])
            values.push_back(f.*figure);
        return values;
    };
    const auto cpu = [&figuresOf](size_t mode) { return figuresOf(mode, &Figures::cpuMs); };
    const auto resident = [&figuresOf](size_t mode) { return figuresOf(mode, &Figures::residentMb); };
    const std::vector<double> off = cpu(0);
    const double percentPerMs = 100.0 / (1000.0 * seconds);
    std::printf("medians of %d rounds, %d s each, a request every %lld s (%d answered per round):\n", rounds, seconds,
                static_cast<long long>(kEvery.count()), figures[1].back().answered);
    std::printf("  idle event loop      %8.2f ms  %6.3f %% of a core  %6.1f MB resident\n", median(cpu(2)),
                median(cpu(2)) * percentPerMs, median(resident(2)));
    std::printf("  requests, guard off  %8.2f ms  %6.3f %% of a core  %6.1f MB resident  (rounds %.2f to %.2f ms)\n",
                median(off), median(off) * percentPerMs, median(resident(0)), *std::min_element(off.begin(), off.end()),
                *std::max_element(off.begin(), off.end()));
    std::printf("  requests, guard on   %8.2f ms  %6.3f %% of a core  %6.1f MB resident\n", median(cpu(1)),
                median(cpu(1)) * percentPerMs, median(resident(1)));
    std::printf("  ratio on/off %.2f (target: at most 1.1)\n", median(cpu(1)) / median(off));
    return 0;
}
