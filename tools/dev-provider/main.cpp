// The development tunnel provider: answers the app on the provider socket like the
// real packet-tunnel provider would, without touching the network. While "connected"
// it publishes throughput samples into the app group and, on every start, writes the
// diagnostics files the app shows. It carries out the VPN switch ("kovra --vpn on|off")
// that the app leaves in the app group.

#include "core/AppGroupStore.h"
#include "dev-provider/VpnCommandWatcher.h"
#include "platform/AppGroupContainer.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/PlatformPaths.h"
#include "platform/TunnelWire.h"
#include "provider-kit/ProviderServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>

#include <csignal>

using namespace kovra;
using provider::ProviderServer;

namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("DevProvider"));
    return logger;
}

// Seconds since 2001-01-01 00:00:00 UTC, the date form of the app group's JSON values.
double referenceSeconds(const QDateTime &t)
{
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return double(reference.msecsTo(t)) / 1000.0;
}

class DevProvider {
public:
    DevProvider(ProviderServer &server, const PlatformPaths &paths, std::chrono::milliseconds sampleInterval,
                std::chrono::milliseconds commandPoll)
        : m_server(server), m_defaults(openSharedGroupDefaults(paths)), m_container(paths, AppGroupStore::kSuiteName),
          m_sampleInterval(sampleInterval),
          m_commands(server, m_defaults,
                     {.pollInterval = commandPoll,
                      .configurationsFile = paths.configFolder() + QStringLiteral("/vpn-configurations.json"),
                      .clock = m_clock,
                      .started = [this](const QJsonObject &start) { writeDiagnostics(start); }})
    {
        QObject::connect(&m_server, &ProviderServer::statusChanged, &m_server, [this](int status) {
            log().info(QStringLiteral("status %1").arg(status));
            if (status == 3) {
                writeSample();
                m_sampler.start(*m_clock, m_sampleInterval, [this] { writeSample(); });
            } else {
                m_sampler.stop();
            }
        });
        QObject::connect(&m_server, &ProviderServer::requestReceived, &m_server, [this](const auto &request) {
            log().info(QStringLiteral("request %1 %2").arg(request.method, request.op()));
            if (request.method == QLatin1String(tunnelwire::kMethodStart)) {
                m_commands.setLastStart(request.object);
                writeDiagnostics(request.object);
            }
        });
        m_server.setMessageHandler(QStringLiteral("status"), [this](const auto &) { return statusReply(); });
        m_server.setMessageHandler(QStringLiteral("selectRegion"), [this](const auto &r) { return selectRegion(r); });
        m_server.setMessageHandler(QStringLiteral("setAutoDisconnect"), [](const auto &r) {
            log().info(QStringLiteral("auto-disconnect set to %1 min").arg(r.message.value("minutes").toInt()));
            return ProviderServer::Reply::json({{QStringLiteral("ok"), true}});
        });
    }

private:
    bool connected() const { return m_server.status() == 3; }

    ProviderServer::Reply statusReply() const
    {
        QJsonObject report{{QStringLiteral("singboxRunning"), connected()},
                           {QStringLiteral("recentLogs"), QJsonArray::fromStringList(m_logs)}};
        if (connected()) {
            report.insert(QStringLiteral("ifaceName"), QStringLiteral("kovra0"));
            report.insert(QStringLiteral("ifaceIndex"), 42);
            report.insert(QStringLiteral("lastTunOpenAt"), m_openedAt.toString(Qt::ISODate));
            report.insert(QStringLiteral("activeOutboundTag"), m_member);
            report.insert(QStringLiteral("autoDetectTotalCalls"), 3);
            report.insert(QStringLiteral("autoDetectSkippedBinds"), 0);
        }
        return ProviderServer::Reply::json(report);
    }

    ProviderServer::Reply selectRegion(const ProviderServer::Request &request)
    {
        const QJsonArray keywords = request.message.value(QStringLiteral("keywords")).toArray();
        if (!connected() || keywords.isEmpty())
            return ProviderServer::Reply::json({{QStringLiteral("applied"), false}});
        m_member = keywords.first().toString() + QStringLiteral("-01");
        note(QStringLiteral("region switched to %1 (%2 keywords)").arg(m_member).arg(keywords.size()));
        return ProviderServer::Reply::json({{QStringLiteral("applied"), true}, {QStringLiteral("selectedMember"), m_member}});
    }

    void writeSample()
    {
        if (!m_defaults)
            return;
        auto *random = QRandomGenerator::global();
        const QJsonObject sample{{QStringLiteral("rxBps"), 20000.0 + random->bounded(80000)},
                                 {QStringLiteral("txBps"), 4000.0 + random->bounded(16000)},
                                 {QStringLiteral("connectionsOut"), 3 + random->bounded(12)},
                                 {QStringLiteral("updatedAt"), referenceSeconds(m_clock->now())}};
        m_defaults->set(AppGroupKey::throughputSample, QJsonDocument(sample).toJson(QJsonDocument::Compact));
        m_defaults->synchronize();
    }

    void writeDiagnostics(const QJsonObject &start)
    {
        const QDateTime now = m_clock->now();
        m_openedAt = now.addMSecs(-now.time().msec());
        m_member = QStringLiteral("auto");
        note(QStringLiteral("tunnel started"));
        const QJsonObject options = start.value(QStringLiteral("options")).toObject();
        // The subscription URL carries the user's token: only its host is written.
        const QString host = QUrl(options.value(QStringLiteral("subscriptionURL")).toString()).host();
        const auto flag = [&options](const char *key) {
            return options.value(QLatin1String(key)).toBool() ? QStringLiteral("yes") : QStringLiteral("no");
        };
        const QString summary =
            QStringLiteral("subscription host: %1\npreferred entry: %2\nregion keywords: %3\n"
                           "bypass LAN: %4\nbypass Russia: %5\nblocked only: %6\nauto-disconnect: %7 min\n")
                .arg(host.isEmpty() ? QStringLiteral("(none)") : host,
                     options.value(QStringLiteral("preferredEntryID")).toString(),
                     options.value(QStringLiteral("selectedRegionKeywords")).toVariant().toStringList().join(QLatin1Char(',')),
                     flag("bypassLAN"), flag("bypassRussia"), flag("blockedOnly"))
                .arg(options.value(QStringLiteral("autoDisconnectMinutes")).toInt());
        writeFile(QStringLiteral("config-summary.txt"), summary);
        writeFile(QStringLiteral("last-startup.txt"),
                  QStringLiteral("started at %1\noutbound: %2\n").arg(m_openedAt.toString(Qt::ISODate), m_member));
    }

    void writeFile(const QString &name, const QString &text) const
    {
        if (!m_container.write(QStringLiteral("diagnostics/") + name, text.toUtf8()))
            log().error(QStringLiteral("cannot write %1").arg(m_container.filePath(QStringLiteral("diagnostics/") + name)));
    }

    void note(const QString &line)
    {
        m_logs.append(m_clock->now().toString(Qt::ISODate) + QLatin1Char(' ') + line);
        while (m_logs.size() > 50)
            m_logs.removeFirst();
    }

    ProviderServer &m_server;
    std::shared_ptr<Defaults> m_defaults;
    AppGroupContainer m_container;
    std::shared_ptr<Clock> m_clock = Clock::system();
    std::chrono::milliseconds m_sampleInterval;
    ClockTicker m_sampler;
    QStringList m_logs;
    QDateTime m_openedAt;
    QString m_member = QStringLiteral("auto");
    devprovider::VpnCommandWatcher m_commands;
};

volatile std::sig_atomic_t stopRequested = 0;

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Local stand-in of the Kovra packet-tunnel provider."));
    parser.addHelpOption();
    // The folders and the socket override are read here, once, as the app reads them.
    const PlatformPaths paths = PlatformPaths::fromEnvironment();
    const QString defaultSocket = tunnelwire::socketPath(paths, qEnvironmentVariable(tunnelwire::kSocketOverrideVariable));
    const QCommandLineOption socket(QStringLiteral("socket"), QStringLiteral("Socket path (default: %1).").arg(defaultSocket),
                                    QStringLiteral("path"), defaultSocket);
    const QCommandLineOption connectDelay(QStringLiteral("connect-delay"),
                                          QStringLiteral("Milliseconds from connecting to connected."),
                                          QStringLiteral("ms"), QStringLiteral("800"));
    const QCommandLineOption sampleInterval(QStringLiteral("sample-interval"),
                                            QStringLiteral("Milliseconds between throughput samples."),
                                            QStringLiteral("ms"), QStringLiteral("1000"));
    const QCommandLineOption failStart(QStringLiteral("fail-start"),
                                       QStringLiteral("Make every start fail with this message."), QStringLiteral("text"));
    const QCommandLineOption commandPoll(QStringLiteral("command-poll"),
                                         QStringLiteral("Milliseconds between looks at the VPN switch's command."),
                                         QStringLiteral("ms"), QStringLiteral("300"));
    parser.addOptions({socket, connectDelay, sampleInterval, failStart, commandPoll});
    parser.process(app);

    ProviderServer server(parser.value(socket));
    server.setStartSteps({{2, {}}, {3, std::chrono::milliseconds(parser.value(connectDelay).toInt())}});
    if (parser.isSet(failStart))
        server.setStartReply(
            ProviderServer::Reply::failure({QStringLiteral("VPNErrorDomain"), 3, parser.value(failStart)}));
    DevProvider provider(server, paths, std::chrono::milliseconds(qMax(100, parser.value(sampleInterval).toInt())),
                         std::chrono::milliseconds(qMax(50, parser.value(commandPoll).toInt())));
    if (!server.listen())
        return 1;
    log().info(QStringLiteral("listening on %1").arg(server.socketPath()));

    // Ctrl-C and SIGTERM end the event loop so that the socket file is removed; the
    // handler only sets a flag (nothing else is safe inside a signal handler).
    for (int sig : {SIGINT, SIGTERM})
        std::signal(sig, [](int) { stopRequested = 1; });
    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, &app, [] {
        if (stopRequested)
            QCoreApplication::quit();
    });
    stopPoll.start(200);
    return app.exec();
}
