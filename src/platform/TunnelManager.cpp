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
    // A stop the provider has not acted on yet.
    struct PendingStop {
        enum Phase { WaitingForProvider, Sent, Accepted };
        Phase phase = WaitingForProvider;
        // It had to wait for a provider: from then on its tunnel reads as stopping.
        bool waited = false;
        quint64 serial = 0;
        OneShot<> written;
        // WaitingForProvider: the stop bound; Sent and Accepted: the reply bound.
        std::unique_ptr<ClockTimer> bound;
    };

    TunnelProviderSession *q;
    TunnelProviderManager *manager;
    TunnelPreferences *preferences;
    ProviderSocketClient *client;
    VPNStatus published = VPNStatus::Invalid;
    std::optional<PendingStop> stop;
    quint64 nextStopSerial = 1;

    VPNStatus status() const
    {
        if (!manager->isSaved())
            return VPNStatus::Invalid;
        const VPNStatus reported = client->status();
        // A tunnel whose stop had to wait for a provider reads as disconnecting until the
        // provider has answered the stop (its status before that is from before the
        // stop), and after that never as up before the provider has acted on it.
        if (stop && stop->waited
            && (stop->phase != PendingStop::Accepted || !client->isConnected() || vpn::isUp(reported)))
            return VPNStatus::Disconnecting;
        return reported;
    }

    void publish()
    {
        if (updateStatus())
            Q_EMIT q->statusChanged(published);
    }
    // For changes made inside a call to the session: reported from the event loop.
    void publishLater()
    {
        QMetaObject::invokeMethod(q, [session = q] { session->d->publish(); }, Qt::QueuedConnection);
    }
    bool updateStatus()
    {
        const VPNStatus now = status();
        return std::exchange(published, now) != now;
    }

    const TunnelPreferencesOptions &options() const { return preferences->options(); }

    // Writes the pending stop to the connected provider; the caller resolves the
    // returned one-shot once it is done with the session.
    [[nodiscard]] OneShot<> sendStop()
    {
        const quint64 serial = stop->serial;
        client->send(QJsonObject{{QStringLiteral("method"), QLatin1String(tunnelwire::kMethodStop)}},
                     [session = QPointer<TunnelProviderSession>(q), serial](std::optional<tunnelwire::ReplyLine> reply) {
                         if (reply && !reply->ok)
                             log().error(QStringLiteral("tunnel provider failed to stop: %1")
                                             .arg(tunnelwire::errorText(reply->object)));
                         if (session)
                             session->d->stopAnswered(serial, std::move(reply));
                     });
        stop->phase = PendingStop::Sent;
        stop->bound = options().clock->startTimer(options().messageReplyTimeout, [this, serial] { stopBoundPassed(serial); });
        return stop->written;
    }

    void waitForProvider()
    {
        const quint64 serial = stop->serial;
        stop->phase = PendingStop::WaitingForProvider;
        stop->waited = true;
        stop->bound = options().clock->startTimer(options().stopDeliveryTimeout, [this, serial] { stopBoundPassed(serial); });
    }

    void stopBoundPassed(quint64 serial)
    {
        if (!stop || stop->serial != serial)
            return;
        if (stop->phase != PendingStop::WaitingForProvider) {
            // The provider's own status shows again, whatever it is.
            log().notice(QStringLiteral("the tunnel provider did not act on the stop within %1 ms")
                             .arg(options().messageReplyTimeout.count()));
            stop.reset();
            publish();
            return;
        }
        const auto bound = options().stopDeliveryTimeout.count();
        log().error(QStringLiteral("the stop was not sent: no tunnel provider within %1 ms").arg(bound));
        OneShot<> written = std::exchange(stop, std::nullopt)->written;
        publish(); // may destroy the session
        written.fail(VPNError(VPNError::ConnectionFailed,
                              QStringLiteral("no tunnel provider within %1 ms to stop the tunnel").arg(bound)));
    }

    // The provider connected (again): a stop that waited for it goes out first.
    void providerConnected()
    {
        if (!stop || stop->phase != PendingStop::WaitingForProvider || !client->isConnected())
            return;
        log().info(QStringLiteral("sending the stop that waited for the tunnel provider"));
        OneShot<> written = sendStop();
        publish(); // may destroy the session
        written.resolve();
    }

    void stopAnswered(quint64 serial, std::optional<tunnelwire::ReplyLine> reply)
    {
        if (!stop || stop->serial != serial || stop->phase != PendingStop::Sent)
            return;
        if (!reply) {
            sendAgainLater(); // the connection dropped: the stop may never have arrived
        } else if (!reply->ok) {
            stop.reset();
        } else {
            stop->phase = PendingStop::Accepted;
            providerStatusChanged();
        }
        publish();
    }

    // An accepted stop ends once the provider reports the tunnel not up; one whose
    // connection drops before that goes out again with the next connection.
    void providerStatusChanged()
    {
        if (!stop || stop->phase != PendingStop::Accepted)
            return;
        if (!client->isConnected())
            sendAgainLater();
        else if (!vpn::isUp(client->status()))
            stop.reset();
    }

    void sendAgainLater()
    {
        log().notice(QStringLiteral("lost the tunnel provider before it carried out the stop; "
                                    "the stop waits up to %1 ms for it")
                         .arg(options().stopDeliveryTimeout.count()));
        waitForProvider();
    }

    // A start replaces a stop that the provider has not acted on; so does the end of the
    // session. The caller reports the status change.
    void dropStop()
    {
        if (!stop)
            return;
        OneShot<> written = std::exchange(stop, std::nullopt)->written;
        written.cancel();
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
    QObject::connect(d->client, &ProviderSocketClient::statusChanged, this, [this] {
        d->providerStatusChanged();
        d->publish();
    });
    QObject::connect(d->client, &ProviderSocketClient::connected, this, [this] { d->providerConnected(); });
    d->client->start();
}

TunnelProviderSession::~TunnelProviderSession()
{
    d->dropStop();
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
    if (d->stop) {
        if (d->stop->phase == Private::PendingStop::WaitingForProvider)
            log().info(QStringLiteral("a start replaced the stop that waited for the tunnel provider"));
        d->dropStop();
        d->publishLater();
    }
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

OneShot<> TunnelProviderSession::stopVPNTunnel()
{
    // Stops asked while the provider is away go out as one.
    if (d->stop && d->stop->phase == Private::PendingStop::WaitingForProvider)
        return d->stop->written;
    d->stop.emplace();
    d->stop->serial = d->nextStopSerial++;
    const OneShot<> written = d->stop->written;
    if (d->client->isConnected()) {
        OneShot<>(d->sendStop()).resolve();
    } else {
        log().notice(QStringLiteral("the tunnel provider is not connected; the stop waits up to %1 ms for it")
                         .arg(d->options().stopDeliveryTimeout.count()));
        d->waitForProvider();
        d->client->connectNow();
    }
    d->publishLater();
    return written;
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
