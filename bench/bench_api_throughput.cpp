// Sequential authenticated GETs through the API client's transport (the host race
// every GET takes) against loopback hosts, beside a bare QNetworkAccessManager client
// sending the same requests to the same host in the same process. In each round both
// clients send their requests in alternating slices of 100, so a load that comes and
// goes on the machine falls on both alike; it prints per round each client's requests
// per second, their ratio, and the CPU time of the main thread (where both clients
// run) per request, then the median ratio.
//
// Usage: bench_api_throughput [--requests N] [--rounds R] [--fixed-token] [--only client|bare]
//   The token comes from the Secret Service (run under scripts/with-test-env) unless
//   --fixed-token gives a fixed in-memory one. --only runs one of the two clients (for
//   a profiler); no ratio is printed then.

#include "ApiBench.h"
#include "BenchSupport.h"
#include "core/APIClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/resource.h>

using namespace kovra;

namespace {

const QString kPath = QStringLiteral("/regions");

// CPU seconds (user and system) of the calling thread.
double threadCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
         + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QCoro::Task<void> sendAll(APIClient *client, int count, std::function<void()> done)
{
    for (int i = 0; i < count; ++i) {
        try {
            const APIClient::Answer answer = co_await client->raceHosts(Endpoint::regions());
            if (answer.statusCode != 200)
                std::fprintf(stderr, "unexpected status %d\n", answer.statusCode);
        } catch (...) {
            std::fprintf(stderr, "request failed: %s\n", qPrintable(descriptionOf(std::current_exception())));
        }
    }
    done();
}

// The same requests written straight on QNetworkAccessManager, one after another.
class BareSender : public QObject {
public:
    BareSender(QNetworkAccessManager *nam, const QUrl &baseURL, int count, std::function<void()> done)
        : m_nam(nam), m_url(baseURL), m_left(count), m_done(std::move(done))
    {
        m_url.setPath(m_url.path() + kPath);
        next();
    }

private:
    void next()
    {
        if (m_left-- == 0) {
            m_done();
            return;
        }
        QNetworkRequest request(m_url);
        request.setRawHeader("Authorization", "Bearer " + bench::kBenchToken.toUtf8());
        QNetworkReply *reply = m_nam->get(request);
        connect(reply, &QNetworkReply::finished, this, [this, reply] {
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
                std::fprintf(stderr, "bare request failed: %s\n", qPrintable(reply->errorString()));
            reply->readAll();
            reply->deleteLater();
            next();
        });
    }

    QNetworkAccessManager *m_nam;
    QUrl m_url;
    int m_left;
    std::function<void()> m_done;
};

constexpr int kSlice = 100;

struct Figures {
    int requests = 0;
    double seconds = 0;
    double cpuSeconds = 0;

    Figures &operator+=(const Figures &other)
    {
        requests += other.requests;
        seconds += other.seconds;
        cpuSeconds += other.cpuSeconds;
        return *this;
    }
    double perSecond() const { return requests / seconds; }
    double cpuMicrosPerRequest() const { return cpuSeconds / requests * 1e6; }
};

// Runs the event loop until `start` has called its completion.
Figures measure(int count, const std::function<void(std::function<void()>)> &start)
{
    QEventLoop loop;
    bool done = false;
    QElapsedTimer clock;
    const double cpuBefore = threadCpuSeconds();
    clock.start();
    start([&] {
        done = true;
        loop.quit();
    });
    if (!done)
        loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = threadCpuSeconds() - cpuBefore;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return {count, seconds, cpu};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kovra.*.info=false"));
    int requests = 2000;
    int rounds = 5;
    bool keychain = true;
    QByteArray only;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--requests" && i + 1 < argc)
            requests = std::max(1, QByteArray(argv[++i]).toInt());
        else if (arg == "--rounds" && i + 1 < argc)
            rounds = std::max(1, QByteArray(argv[++i]).toInt());
        else if (arg == "--fixed-token")
            keychain = false;
        else if (arg == "--only" && i + 1 < argc)
            only = argv[++i];
    }

    bench::Hosts hosts;
    const test::FakeReply ok = test::FakeReply::json(200, "[]");
    hosts.script(kPath, {ok, ok, ok});
    const auto session = APIClient::makeDefaultSession();
    const auto fallback = APIClient::makeFallbackSession();
    QNetworkAccessManager bareNam;
    const bench::BenchToken token(keychain);
    APIClient client(APIClient::Sessions{session.get(), fallback.get()}, hosts.urls(), token.provider(),
                     AppGroupStore(Defaults::inMemory(), nullptr));
    std::unique_ptr<BareSender> bare;
    const auto ours = [&](int count) {
        if (only == "bare")
            return Figures{};
        return measure(count, [&](std::function<void()> done) { sendAll(&client, count, std::move(done)); });
    };
    const auto theirs = [&](int count) {
        if (only == "client")
            return Figures{};
        return measure(count, [&](std::function<void()> done) {
            bare = std::make_unique<BareSender>(&bareNam, hosts.urls().first(), count, std::move(done));
        });
    };
    // Connections open and the token read once before anything counts.
    ours(20);
    theirs(20);

    std::printf("%d sequential GETs per client and round, token %s\n", requests, keychain ? "from the keyring" : "fixed");
    std::printf("%-6s %12s %12s %7s %16s %16s\n", "round", "client req/s", "bare req/s", "ratio", "client CPU/req",
                "bare CPU/req");
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        Figures o, b;
        for (int sent = 0; sent < requests; sent += kSlice) {
            const int slice = std::min(kSlice, requests - sent);
            if ((sent / kSlice + round) % 2 == 0) {
                o += ours(slice);
                b += theirs(slice);
            } else {
                b += theirs(slice);
                o += ours(slice);
            }
        }
        if (!only.isEmpty())
            continue;
        ratios.push_back(o.perSecond() / b.perSecond());
        std::printf("%-6d %12.0f %12.0f %6.2fx %13.0f µs %13.0f µs\n", round + 1, o.perSecond(), b.perSecond(),
                    ratios.back(), o.cpuMicrosPerRequest(), b.cpuMicrosPerRequest());
    }
    if (only.isEmpty())
        std::printf("median throughput ratio: %.2fx (goal: 0.70x or more)\n", bench::median(ratios));
    return 0;
}
