#include "dev-provider/VpnCommandWatcher.h"

#include "core/AppGroupStore.h"
#include "core/TunnelStopReason.h"
#include "platform/Log.h"
#include "platform/TunnelConfigurationsFile.h"
#include "platform/TunnelWire.h"
#include "tunnel/ProviderConfiguration.h"

#include <QJsonArray>

namespace kovra::devprovider {

namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("VpnCommand"));
    return logger;
}

// Connecting, connected or reasserting.
bool isOn(int status)
{
    return status >= 2 && status <= 4;
}

} // namespace

VpnCommandWatcher::VpnCommandWatcher(provider::ProviderServer &server, std::shared_ptr<Defaults> defaults, Options options)
    : m_server(server), m_defaults(std::move(defaults)), m_options(std::move(options))
{
    if (m_defaults)
        m_poll.start(*m_options.clock, m_options.pollInterval, [this] { check(); });
}

void VpnCommandWatcher::check()
{
    const std::optional<QString> command = m_defaults->string(AppGroupKey::pendingVPNCommand);
    if (!command)
        return;
    // Taken first: whatever comes of it, the command is not carried out twice.
    m_defaults->remove(AppGroupKey::pendingVPNCommand);
    if (*command == QLatin1String("connect"))
        connect();
    else if (*command == QLatin1String("disconnect"))
        disconnect();
    else
        log().error(QStringLiteral("ignored an unknown VPN command (%1 characters)").arg(command->size()));
}

void VpnCommandWatcher::connect()
{
    if (isOn(m_server.status())) {
        log().info(QStringLiteral("connect: the tunnel is on already"));
        return;
    }
    const std::optional<QJsonObject> start = startRequest();
    if (!start) {
        log().error(QStringLiteral("connect: no configuration to start with (the app has never connected)"));
        return;
    }
    if (!m_server.startTunnel()) {
        log().error(QStringLiteral("connect: the start failed"));
        return;
    }
    log().info(QStringLiteral("connect: starting the tunnel"));
    m_lastStart = *start;
    if (m_options.started)
        m_options.started(*start);
}

void VpnCommandWatcher::disconnect()
{
    if (!isOn(m_server.status())) {
        log().info(QStringLiteral("disconnect: the tunnel is off already"));
        return;
    }
    log().info(QStringLiteral("disconnect: stopping the tunnel"));
    m_server.stopTunnel();
    // The user's stop, carried out.
    AppGroupStore(m_defaults, nullptr)
        .setCodable(std::optional(TunnelStopReason{.providerReasonRawValue = std::nullopt,
                                                   .source = TunnelStopReason::Source::userStop,
                                                   .recordedAt = m_options.clock->now(),
                                                   .isPending = false}),
                    AppGroupKey::lastStopReason);
}

std::optional<QJsonObject> VpnCommandWatcher::startRequest() const
{
    if (!m_lastStart.isEmpty())
        return m_lastStart;
    QJsonArray entries;
    try {
        entries = TunnelConfigurationsFile(m_options.configurationsFile, m_options.clock).read();
    } catch (const std::exception &e) {
        log().error(QStringLiteral("cannot read the saved configurations: %1").arg(QString::fromUtf8(e.what())));
        return std::nullopt;
    }
    for (const QJsonValue &entry : std::as_const(entries)) {
        const QJsonObject protocol = entry[QLatin1String("protocol")].toObject();
        if (protocol.value(QLatin1String("providerBundleIdentifier")).toString() != kPacketTunnelBundleID)
            continue;
        return QJsonObject{{QStringLiteral("method"), QLatin1String(tunnelwire::kMethodStart)},
                           {QStringLiteral("options"), protocol.value(QLatin1String("providerConfiguration"))},
                           {QStringLiteral("configuration"), entry}};
    }
    return std::nullopt;
}

} // namespace kovra::devprovider
