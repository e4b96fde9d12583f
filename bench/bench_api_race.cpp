// The host race against three scripted loopback hosts, beside a bare
// QNetworkAccessManager client running the same schedule in the same process.
// For each schedule it prints the median over the runs of (completion - ideal
// completion), where the ideal is what the race rules allow: the winner's own delay
// plus the stagger waits before it started.
//
// Usage: bench_api_race [--runs N] [--keychain]
//   --keychain  read the token from the Secret Service (a keyring must answer) instead
//               of a fixed in-memory token.

#include "ApiBench.h"
#include "core/APIClient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kovra;
using namespace std::chrono_literals;
using test::FakeReply;

namespace {

constexpr std::chrono::milliseconds kStagger = APIClient::defaultStagger;

struct Schedule {
    const char *name;
    QList<FakeReply> replies; // for hosts A, B, C; an empty list: A's port is closed
    bool refusedA;
    double idealMs;
};

// The same rules as the race, written straight on QNetworkAccessManager: candidates
// one stagger apart, the next at once after a failure or a 5xx, the first other
// answer wins and the rest are aborted.
class BareRace : public QObject {
public:
    BareRace(QNetworkAccessManager *nam, QList<QUrl> candidates, std::function<void()> done)
        : m_nam(nam), m_candidates(std::move(candidates)), m_done(std::move(done))
    {
        m_stagger.setSingleShot(true);
        m_stagger.setTimerType(Qt::PreciseTimer);
        connect(&m_stagger, &QTimer::timeout, this, [this] { launch(); });
        launch();
    }
    ~BareRace() override
    {
        for (QNetworkReply *r : std::as_const(m_replies)) {
            r->disconnect(this);
            r->abort();
            r->deleteLater();
        }
    }

private:
    void launch()
    {
        if (m_finished || m_next >= m_candidates.size())
            return;
        QUrl url = m_candidates.at(m_next++);
        url.setPath(url.path() + QStringLiteral("/regions"));
        QNetworkRequest request(url);
        request.setRawHeader("Authorization", "Bearer " + bench::kBenchToken.toUtf8());
        QNetworkReply *reply = m_nam->get(request);
        m_replies.append(reply);
        ++m_inFlight;
        connect(reply, &QNetworkReply::finished, this, [this, reply] { ended(reply); });
        if (m_next < m_candidates.size())
            m_stagger.start(kStagger);
    }

    void ended(QNetworkReply *reply)
    {
        --m_inFlight;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        reply->readAll();
        if (m_finished)
            return;
        if (status.isValid() && (status.toInt() < 500 || status.toInt() > 599)) {
            finish();
            return;
        }
        launch();
        if (m_inFlight == 0 && m_next >= m_candidates.size())
            finish();
    }

    void finish()
    {
        m_finished = true;
        m_stagger.stop();
        m_done();
    }

    QNetworkAccessManager *m_nam;
    QList<QUrl> m_candidates;
    std::function<void()> m_done;
    QList<QNetworkReply *> m_replies;
    QTimer m_stagger;
    int m_next = 0;
    int m_inFlight = 0;
    bool m_finished = false;
};

QCoro::Task<void> raceOnce(APIClient *client, std::function<void()> done)
{
    try {
        co_await client->raceHosts(Endpoint::regions());
    } catch (...) {
        std::fprintf(stderr, "race failed: %s\n", qPrintable(descriptionOf(std::current_exception())));
    }
    done();
}

// Runs the event loop until `start` has called its completion; the time it took, in ms.
double timed(const std::function<void(std::function<void()>)> &start)
{
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 doneAt = -1;
    clock.start();
    start([&] {
        doneAt = clock.nsecsElapsed();
        loop.quit();
    });
    if (doneAt < 0)
        loop.exec();
    return double(doneAt) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("kovra.*.info=false"));
    int runs = 50;
    bool keychain = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, QByteArray(argv[++i]).toInt());
        else if (arg == "--keychain")
            keychain = true;
    }

    bench::Hosts hosts;
    const QList<QUrl> urls = hosts.urls();
    const QUrl refused = test::FakeService::closedPortURL();
    const FakeReply down = FakeReply::close();
    const auto ok = [](std::chrono::milliseconds delay) { return FakeReply::json(200, "[]", delay); };
    const QList<Schedule> schedules = {
        {"A 50 ms / B down / C 20 ms", {ok(50ms), down, ok(20ms)}, false, 50},
        {"A refused / B 30 ms", {FakeReply::silent(), ok(30ms), ok(30ms)}, true, 30},
        {"A 700 ms / B 10 / C 10", {ok(700ms), ok(10ms), ok(10ms)}, false, double(kStagger.count()) + 10},
        {"all 5 ms", {ok(5ms), ok(5ms), ok(5ms)}, false, 5},
    };

    // The process's two sessions, as the start-up builds them; the bare client keeps one
    // access manager for all its runs likewise.
    const auto session = APIClient::makeDefaultSession();
    const auto fallback = APIClient::makeFallbackSession();
    QNetworkAccessManager bareNam;
    const AppGroupStore store(Defaults::inMemory(), nullptr);

    const bench::BenchToken token(keychain);

    std::printf("%-30s %8s %14s %14s %10s\n", "schedule", "ideal", "race - ideal", "bare - ideal", "difference");
    for (const Schedule &s : schedules) {
        hosts.script(QStringLiteral("/regions"), s.replies);
        QList<QUrl> candidates = urls;
        if (s.refusedA)
            candidates[0] = refused;
        std::vector<double> ours, bare;
        for (int run = 0; run < runs; ++run) {
            // A new client each run over a store without a pin, so every run starts at A.
            store.defaults()->remove(AppGroupKey::activeBaseURL);
            APIClient client(APIClient::Sessions{session.get(), fallback.get()}, candidates, token.provider(), store);
            ours.push_back(timed([&](std::function<void()> done) { raceOnce(&client, std::move(done)); }) - s.idealMs);
            std::unique_ptr<BareRace> race;
            bare.push_back(timed([&](std::function<void()> done) {
                               race = std::make_unique<BareRace>(&bareNam, candidates, std::move(done));
                           })
                           - s.idealMs);
            race.reset();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        const double o = median(ours), b = median(bare);
        std::printf("%-30s %6.0f ms %11.2f ms %11.2f ms %7.2f ms\n", s.name, s.idealMs, o, b, o - b);
    }
    return 0;
}
