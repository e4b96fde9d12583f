// Our typed decode of a catalogue-shaped document (~200 KB, snake_case keys, ISO 8601
// dates) beside QJsonDocument::fromJson of the same bytes, in the same run. Prints the
// median time of each over the iterations and their ratio.
//
// Usage: bench_json_decode [--iterations N]

#include "platform/Json.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace kovra;

namespace {

struct Region {
    QString id;
    QString name;
    QString countryCode;
    QString cityName;
    bool isOnline = false;
    double loadFactor = 0;
    int pingMs = 0;
    qint64 capacityTotal = 0;
    QList<QString> matchKeywords;
    std::optional<QString> entryId;
    QDateTime createdAt;
    QDateTime updatedAt;
    QString kind;
    QString status;
    bool isDefault = false;

    static Region decode(const JsonDecodingContainer &c)
    {
        return {c.decode<QString>("id"),
                c.decode<QString>("name"),
                c.decode<QString>("countryCode"),
                c.decode<QString>("cityName"),
                c.decode<bool>("isOnline"),
                c.decode<double>("loadFactor"),
                c.decode<int>("pingMs"),
                c.decode<qint64>("capacityTotal"),
                c.decode<QList<QString>>("matchKeywords"),
                c.decodeIfPresent<QString>("entryId"),
                c.decode<QDateTime>("createdAt"),
                c.decode<QDateTime>("updatedAt"),
                c.decode<QString>("kind"),
                c.decode<QString>("status"),
                c.decode<bool>("isDefault")};
    }
};

QByteArray catalogue(qsizetype targetBytes)
{
    QByteArray out = "[";
    for (int i = 0; out.size() < targetBytes; ++i) {
        if (i > 0)
            out += ',';
        out += QStringLiteral(R"({"id":"r-%1","name":"Region %1","country_code":"C%2","city_name":"City %1",)"
                              R"("is_online":%3,"load_factor":0.%4,"ping_ms":%5,"capacity_total":%6,)"
                              R"("match_keywords":["kw-%1","zone-%2","tier-%7"],"entry_id":%8,)"
                              R"("created_at":"2024-01-%9T03:04:05Z","updated_at":"2024-02-%9T10:20:30+03:00",)"
                              R"("kind":"direct","status":"online","is_default":false})")
                   .arg(i)
                   .arg(i % 50)
                   .arg(i % 3 ? QStringLiteral("true") : QStringLiteral("false"))
                   .arg(i % 97)
                   .arg(10 + i % 200)
                   .arg(1000LL * i)
                   .arg(i % 4)
                   .arg(i % 5 ? QStringLiteral("\"e-%1\"").arg(i % 7) : QStringLiteral("null"))
                   .arg(10 + i % 18)
                   .toUtf8();
    }
    return out + ']';
}

// The median time of each piece of work, in ms; the pieces take turns in every
// iteration, so a busy machine weighs on all of them alike.
std::vector<double> medianMs(int iterations, const std::vector<std::function<void()>> &work)
{
    std::vector<std::vector<double>> times(work.size());
    for (int i = 0; i < iterations; ++i) {
        for (size_t w = 0; w < work.size(); ++w) {
            QElapsedTimer t;
            t.start();
            work[w]();
            times[w].push_back(double(t.nsecsElapsed()) / 1e6);
        }
    }
    std::vector<double> medians;
    for (auto &series : times) {
        std::sort(series.begin(), series.end());
        medians.push_back(series[series.size() / 2]);
    }
    return medians;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int iterations = 300;
    for (int i = 1; i + 1 < argc; ++i) {
        if (QByteArray(argv[i]) == "--iterations")
            iterations = std::max(1, QByteArray(argv[++i]).toInt());
    }
    const QByteArray json = catalogue(200 * 1024);
    const JsonDecoder decoder{KeyDecoding::convertFromSnakeCase, DateDecoding::iso8601};
    const auto regions = decoder.decode<std::vector<Region>>(json);

    size_t sink = 0;
    const std::vector<double> ms = medianMs(iterations, {
        [&] { sink += decoder.decode<std::vector<Region>>(json).size(); },
        [&] { sink += JsonValue::parse(json).array().size(); },
        [&] { sink += size_t(QJsonDocument::fromJson(json).array().size()); },
    });
    const double typed = ms[0], parseOnly = ms[1], qt = ms[2];

    std::printf("document: %lld bytes, %zu records, %d iterations\n", qlonglong(json.size()), regions.size(),
                iterations);
    std::printf("%-34s %9.3f ms\n", "typed decode (ours)", typed);
    std::printf("%-34s %9.3f ms\n", "parse only (ours)", parseOnly);
    std::printf("%-34s %9.3f ms\n", "QJsonDocument::fromJson", qt);
    std::printf("%-34s %9.2fx\n", "typed decode / fromJson", typed / qt);
    return sink == 0 ? 1 : 0;
}
