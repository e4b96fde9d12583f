#include "platform/TunnelManager.h"

#include "platform/Async.h"
#include "platform/Log.h"
#include "platform/ProviderSocketClient.h"
#include "platform/TunnelValueMapping.h"
#include "platform/TunnelWire.h"

#include <QJsonArray>

#include <stdexcept>

namespace kovra {
namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("TunnelSession"));
    return logger;
}

namespace key {
const QString identifier = QStringLiteral("identifier");
const QString description = QStringLiteral("localizedDescription");
const QString enabled = QStringLiteral("enabled");
const QString onDemandEnabled = QStringLiteral("onDemandEnabled");
const QString onDemandRules = QStringLiteral("onDemandRules");
const QString protocol = QStringLiteral("protocol");
const QString bundleID = QStringLiteral("providerBundleIdentifier");
const QString serverAddress = QStringLiteral("serverAddress");
const QString providerConfiguration = QStringLiteral("providerConfiguration");
} // namespace key

QJsonObject entryOf(const TunnelProviderManager &m)
{
    const auto protocol = m.protocolConfiguration();
    if (!protocol)
        throw VPNError(VPNError::ConfigurationInvalid, QStringLiteral("the configuration has no tunnel protocol"));
    return QJsonObject{
        {key::identifier, m.identifier().toString(QUuid::WithoutBraces)},
        {key::description, m.localizedDescription()},
        {key::enabled, m.isEnabled()},
        {key::onDemandEnabled, m.isOnDemandEnabled()},
        {key::onDemandRules, tunnelvalues::toJson(m.onDemandRules(), key::onDemandRules)},
        {key::protocol,
         QJsonObject{{key::bundleID, protocol->providerBundleIdentifier},
                     {key::serverAddress, protocol->serverAddress},
                     {key::providerConfiguration,
                      tunnelvalues::mapToJson(protocol->providerConfiguration, key::providerConfiguration)}}},
    };
}

} // namespace

// --- TunnelProviderSession --------------------------------------------------

struct TunnelProviderSession::Private {
    TunnelProviderSession *q;
    TunnelProviderManager *manager;
    TunnelPreferences *preferences;
    ProviderSocketClient *client;
    VPNStatus published = VPNStatus::Invalid;

    VPNStatus status() const { return manager->isSaved() ? client->status() : VPNStatus::Invalid; }

    void publish()
    {
        if (updateStatus())
            Q_EMIT q->statusChanged(published);
    }
    bool updateStatus()
    {
        const VPNStatus now = status();
        return std::exchange(published, now) != now;
    }
};

TunnelProviderSession::TunnelProviderSession(TunnelProviderManager *manager, TunnelPreferences *preferences)
    : QObject(manager), d(std::make_unique<Private>())
{
    const auto &options = preferences->options();
    d->q = this;
    d->manager = manager;
    d->preferences = preferences;
    d->client = new ProviderSocketClient(options.socketPath, options.reconnectInterval, options.maxReconnectInterval,
                                         options.clock, this);
    QObject::connect(d->client, &ProviderSocketClient::statusChanged, this, [this] { d->publish(); });
    d->client->start();
}

TunnelProviderSession::~TunnelProviderSession()
{
    // Pending handlers end (with no reply) while the session is still whole.
    delete std::exchange(d->client, nullptr);
}

VPNStatus TunnelProviderSession::status() const
{
    return d->status();
}

bool TunnelProviderSession::isProviderConnected() const
{
    return d->client->isConnected();
}

namespace {
// The provider's answer to a start, as TunnelProviderSession::startVPNTunnel() tells it.
QCoro::Task<void> startAnswered(OneShot<std::optional<tunnelwire::ReplyLine>> answer,
                                QPointer<ProviderSocketClient> client, CancellationToken cancel)
{
    QObject guard; // the cancellation link ends with the wait
    cancel.onCancel(&guard, [answer]() mutable { answer.cancel(); });
    const std::optional<tunnelwire::ReplyLine> reply = co_await answer.wait();
    // A start that was called off ends as such, whatever the provider said.
    cancel.throwIfCancelled();
    if (reply && !reply->ok) {
        log().error(QStringLiteral("tunnel provider failed to start: %1").arg(tunnelwire::errorText(reply->object)));
        throw tunnelwire::replyError(reply->object);
    }
    if (!reply && !(client && client->isConnected()))
        throw VPNError(VPNError::ConnectionFailed, QStringLiteral("the tunnel provider went away before answering"));
}
} // namespace

QCoro::Task<void> TunnelProviderSession::startVPNTunnel(const QVariantMap &options, CancellationToken cancel)
{
    if (!d->manager->isSaved())
        throw VPNError(VPNError::ConfigurationInvalid, QStringLiteral("the configuration has not been saved"));
    const QJsonArray entries = d->preferences->m_file.read();
    const qsizetype index = TunnelConfigurationsFile::indexOf(entries, d->manager->identifier());
    if (index < 0)
        throw VPNError(VPNError::ConfigurationInvalid, QStringLiteral("the configuration is no longer saved"));
    const QJsonObject saved = entries.at(index).toObject();
    if (!saved.value(key::enabled).toBool(false))
        throw VPNError(VPNError::ConfigurationDisabled, QStringLiteral("the configuration is disabled"));
    QJsonObject request{{QStringLiteral("method"), QLatin1String(tunnelwire::kMethodStart)},
                        {QStringLiteral("options"), tunnelvalues::mapToJson(options, QStringLiteral("options"))},
                        {QStringLiteral("configuration"), saved}};
    OneShot<std::optional<tunnelwire::ReplyLine>> answer;
    d->client->send(
        std::move(request),
        [answer](std::optional<tunnelwire::ReplyLine> reply) mutable { answer.resolve(std::move(reply)); },
        d->preferences->options().messageReplyTimeout);
    return startAnswered(answer, QPointer<ProviderSocketClient>(d->client), std::move(cancel));
}

void TunnelProviderSession::stopVPNTunnel()
{
    if (!d->client->isConnected())
        return;
    d->client->send(QJsonObject{{QStringLiteral("method"), QLatin1String(tunnelwire::kMethodStop)}},
                    [](std::optional<tunnelwire::ReplyLine> reply) {
                        if (reply && !reply->ok)
                            log().error(QStringLiteral("tunnel provider failed to stop: %1")
                                            .arg(tunnelwire::errorText(reply->object)));
                    });
}

void TunnelProviderSession::sendProviderMessage(const QByteArray &message, ResponseHandler handler)
{
    QJsonObject request{{QStringLiteral("method"), QLatin1String(tunnelwire::kMethodMessage)},
                        {QStringLiteral("data"), QString::fromLatin1(message.toBase64())}};
    const auto onReply = [handler = std::move(handler)](std::optional<tunnelwire::ReplyLine> reply) {
        std::optional<QByteArray> data;
        if (reply && !reply->ok) {
            log().error(QStringLiteral("provider message failed: %1").arg(tunnelwire::errorText(reply->object)));
        } else if (const QJsonValue encoded = reply ? reply->object.value(QStringLiteral("data")) : QJsonValue();
                   encoded.isString()) {
            auto decoded = QByteArray::fromBase64Encoding(encoded.toString().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
            if (decoded)
                data = std::move(*decoded);
            else
                log().error(QStringLiteral("dropped a provider message reply that is not base64"));
        }
        if (handler)
            handler(std::move(data));
    };
    d->client->send(std::move(request), onReply, d->preferences->options().messageReplyTimeout);
}

QCoro::Task<std::optional<QByteArray>> TunnelProviderSession::providerMessage(QByteArray message)
{
    OneShot<std::optional<QByteArray>> reply;
    sendProviderMessage(message, [reply](std::optional<QByteArray> value) mutable { reply.resolve(std::move(value)); });
    co_return co_await reply.wait();
}

// --- TunnelProviderManager --------------------------------------------------

TunnelProviderManager::TunnelProviderManager(TunnelPreferences *preferences, QUuid identifier)
    : QObject(preferences), m_preferences(preferences), m_identifier(identifier)
{
    m_connection = new TunnelProviderSession(this, preferences);
}

QCoro::Task<void> TunnelProviderManager::saveToPreferences()
{
    if (!m_preferences)
        throw VPNError(VPNError::ConfigurationReadWriteFailed, QStringLiteral("the preferences are gone"));
    const QJsonObject entry = entryOf(*this);
    const TunnelConfigurationsFile &file = m_preferences->m_file;
    QJsonArray entries = file.read();
    const qsizetype index = TunnelConfigurationsFile::indexOf(entries, m_identifier);
    if (index < 0)
        entries.append(entry);
    else
        entries.replace(index, entry);
    file.write(entries);
    m_saved = true;
    m_connection->d->publish();
    co_return;
}

QCoro::Task<void> TunnelProviderManager::loadFromPreferences()
{
    if (!m_preferences)
        throw VPNError(VPNError::ConfigurationReadWriteFailed, QStringLiteral("the preferences are gone"));
    const QJsonArray entries = m_preferences->m_file.read();
    const qsizetype index = TunnelConfigurationsFile::indexOf(entries, m_identifier);
    if (index < 0)
        throw VPNError(VPNError::ConfigurationInvalid, QStringLiteral("the configuration is not saved"));
    m_preferences->apply(this, entries.at(index).toObject());
    const auto &options = m_preferences->options();
    const QList<QPointer<TunnelProviderManager>> loaded{QPointer<TunnelProviderManager>(this)};
    const std::shared_ptr<Clock> clock = options.clock;
    co_await TunnelPreferences::waitForStatuses(loaded, options.firstStatusTimeout, clock);
}

// --- TunnelPreferences ------------------------------------------------------

TunnelPreferencesOptions TunnelPreferencesOptions::in(const PlatformPaths &paths, QString socketPath)
{
    TunnelPreferencesOptions options;
    options.configurationsFile = paths.configFolder() + QStringLiteral("/vpn-configurations.json");
    options.socketPath = std::move(socketPath);
    return options;
}

namespace {
TunnelPreferencesOptions completed(TunnelPreferencesOptions options)
{
    if (options.configurationsFile.isEmpty() || options.socketPath.isEmpty())
        throw std::invalid_argument("TunnelPreferences needs a configurations file and a socket path");
    if (!options.clock)
        options.clock = Clock::system();
    return options;
}
} // namespace

TunnelPreferences::TunnelPreferences(Options options, QObject *parent)
    : QObject(parent), m_options(completed(std::move(options))), m_file(m_options.configurationsFile, m_options.clock)
{
}

TunnelPreferences::~TunnelPreferences() = default;

void TunnelPreferences::apply(TunnelProviderManager *m, const QJsonObject &entry)
{
    const QJsonValue protocol = entry.value(key::protocol);
    if (protocol.isObject()) {
        const QJsonObject p = protocol.toObject();
        m->m_protocol = TunnelProviderProtocol{p.value(key::bundleID).toString(), p.value(key::serverAddress).toString(),
                                               tunnelvalues::mapFromJson(p.value(key::providerConfiguration).toObject())};
    } else {
        m->m_protocol.reset();
    }
    m->m_description = entry.value(key::description).toString();
    m->m_enabled = entry.value(key::enabled).toBool(false);
    m->m_onDemandEnabled = entry.value(key::onDemandEnabled).toBool(false);
    m->m_onDemandRules = tunnelvalues::fromJson(entry.value(key::onDemandRules).toArray()).toList();
    m->m_saved = true;
    m->m_connection->d->publish();
}

QCoro::Task<QList<TunnelProviderManager *>> TunnelPreferences::loadAllFromPreferences()
{
    const QJsonArray entries = m_file.read();
    QList<QPointer<TunnelProviderManager>> loaded;
    for (const auto &entry : entries) {
        const auto id = TunnelConfigurationsFile::identifierOf(entry);
        if (!id) {
            log().error(QStringLiteral("skipped a saved configuration without a valid identifier"));
            continue;
        }
        TunnelProviderManager *m = managerFor(*id);
        if (loaded.contains(m))
            continue;
        apply(m, entry.toObject());
        loaded.append(m);
    }
    QPointer<TunnelPreferences> self(this);
    co_await waitForStatuses(loaded, m_options.firstStatusTimeout, m_options.clock);
    if (!self)
        throw VPNError(VPNError::ConfigurationReadWriteFailed, QStringLiteral("the preferences are gone"));
    QList<TunnelProviderManager *> managers;
    for (const auto &m : std::as_const(loaded)) {
        if (m)
            managers.append(m);
    }
    co_return managers;
}

QCoro::Task<void> TunnelPreferences::waitForStatuses(QList<QPointer<TunnelProviderManager>> managers,
                                                     std::chrono::milliseconds bound, std::shared_ptr<Clock> clock)
{
    // Every session connects now (when it is not connected) and all wait in parallel
    // against one deadline.
    QList<OneShot<>> settled;
    for (const auto &m : std::as_const(managers)) {
        if (m)
            settled.append(m->connection()->d->client->connectNow());
    }
    const MonotonicInstant deadline = clock->monotonicNow() + bound;
    for (const OneShot<> &s : std::as_const(settled)) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock->monotonicNow());
        if (left.count() <= 0)
            break;
        co_await s.waitFor(left, *clock);
    }
}

TunnelProviderManager *TunnelPreferences::createManager()
{
    return managerFor(QUuid::createUuid());
}

TunnelProviderManager *TunnelPreferences::managerFor(const QUuid &identifier)
{
    if (auto *m = m_managers.value(identifier))
        return m;
    auto *m = new TunnelProviderManager(this, identifier);
    m_managers.insert(identifier, m);
    return m;
}

} // namespace kovra
