#include "platform/TunnelManager.h"

#include "platform/Async.h"
#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/TunnelWire.h"
#include "platform/PlatformPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTimer>

#include <cmath>

namespace kovra {
namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("TunnelSession"));
    return logger;
}

namespace key {
const QString configurations = QStringLiteral("configurations");
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

QString defaultConfigurationsFile()
{
    return PlatformPaths::fromEnvironment().configFolder() + QStringLiteral("/vpn-configurations.json");
}

// JSON as the tunnel layer hands it out: Booleans as numbers (the way a provider
// configuration reads back), whole numbers as qint64, arrays of strings as QStringList.
QVariant variantFromJson(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return QVariant::fromValue(qint64(value.toBool() ? 1 : 0));
    case QJsonValue::Double: {
        const double d = value.toDouble();
        if (std::trunc(d) == d && std::fabs(d) <= 9007199254740992.0)
            return QVariant::fromValue(qint64(d));
        return d;
    }
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Array: {
        const QJsonArray array = value.toArray();
        if (std::all_of(array.begin(), array.end(), [](const QJsonValue &v) { return v.isString(); })) {
            QStringList list;
            for (const auto &v : array)
                list.append(v.toString());
            return list;
        }
        QVariantList list;
        for (const auto &v : array)
            list.append(variantFromJson(v));
        return list;
    }
    case QJsonValue::Object: {
        QVariantMap map;
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it)
            map.insert(it.key(), variantFromJson(it.value()));
        return map;
    }
    default:
        return {};
    }
}

QVariantMap mapFromJson(const QJsonObject &object)
{
    return variantFromJson(object).toMap();
}

// The JSON of a value of a configuration or of start options; throws
// VPNError(ConfigurationInvalid) for a type the provider cannot be given.
QJsonValue jsonFromVariant(const QVariant &value, const QString &where)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return double(value.toLongLong());
    case QMetaType::Float:
    case QMetaType::Double:
        if (std::isfinite(value.toDouble()))
            return value.toDouble();
        break;
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        return QJsonArray::fromStringList(value.toStringList());
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const auto &v : value.toList())
            array.append(jsonFromVariant(v, where));
        return array;
    }
    case QMetaType::QVariantMap: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            object.insert(it.key(), jsonFromVariant(it.value(), where + QLatin1Char('.') + it.key()));
        return object;
    }
    default:
        break;
    }
    throw VPNError(VPNError::ConfigurationInvalid,
                   QStringLiteral("unsupported value of type %1 at %2").arg(QString::fromLatin1(value.typeName()), where));
}

QJsonObject jsonFromMap(const QVariantMap &map, const QString &where)
{
    return jsonFromVariant(map, where).toObject();
}

std::optional<QUuid> identifierOf(const QJsonValue &entry)
{
    const QUuid id(entry.toObject().value(key::identifier).toString());
    if (!entry.isObject() || id.isNull())
        return std::nullopt;
    return id;
}

qsizetype indexOf(const QJsonArray &entries, const QUuid &id)
{
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (identifierOf(entries.at(i)) == id)
            return i;
    }
    return -1;
}

} // namespace

// --- VPNError ---------------------------------------------------------------

VPNError::VPNError(int code, QString message, QString domain)
    : m_domain(std::move(domain)), m_code(code), m_message(std::move(message))
{
}

QString VPNError::description() const
{
    return QStringLiteral("%1 error %2: %3").arg(m_domain).arg(m_code).arg(m_message);
}

// --- TunnelProviderSession --------------------------------------------------

struct TunnelProviderSession::Private {
    enum class Kind { Start, Stop, Message };
    struct Pending {
        Kind kind;
        ResponseHandler handler;
    };

    TunnelProviderSession *q;
    TunnelProviderManager *manager;
    TunnelPreferences *preferences;
    QLocalSocket *socket = nullptr;
    QTimer retry;
    tunnelwire::LineReader reader;
    bool connected = false;
    VPNStatus providerStatus = VPNStatus::Disconnected;
    VPNStatus published = VPNStatus::Invalid;
    qint64 nextID = 1;
    QHash<qint64, Pending> pending;

    QString socketPath() const { return preferences->options().socketPath; }

    VPNStatus status() const
    {
        if (!manager->isSaved())
            return VPNStatus::Invalid;
        return connected ? providerStatus : VPNStatus::Disconnected;
    }

    void publish()
    {
        const VPNStatus now = status();
        if (now == published)
            return;
        published = now;
        Q_EMIT q->statusChanged(now);
    }

    void tryConnect()
    {
        if (socket->state() != QLocalSocket::UnconnectedState)
            return;
        retry.stop();
        tunnelwire::ensureSocketDirectory(socketPath());
        socket->connectToServer(socketPath());
    }

    void onConnected()
    {
        connected = true;
        reader.reset();
        log().info(QStringLiteral("connected to the tunnel provider"));
        // The provider reports its status right away; until then it reads as disconnected.
        publish();
    }

    void onUnconnected()
    {
        if (connected) {
            readAvailable(); // a reply written just before the provider closed still counts
            connected = false;
            providerStatus = VPNStatus::Disconnected;
            reader.reset();
            log().notice(QStringLiteral("lost the connection to the tunnel provider"));
        }
        if (!retry.isActive())
            retry.start();
        const auto dropped = std::exchange(pending, {});
        publish();
        for (const auto &p : dropped) {
            if (p.handler)
                p.handler(std::nullopt);
        }
    }

    void readAvailable()
    {
        if (!socket->bytesAvailable())
            return;
        const auto result = reader.feed(socket->readAll());
        for (int i = 0; i < result.oversized; ++i)
            log().error(QStringLiteral("dropped a line over %1 bytes from the tunnel provider")
                            .arg(tunnelwire::kMaxLineBytes));
        for (const auto &line : result.lines)
            handleLine(line);
    }

    void handleLine(const QByteArray &line)
    {
        if (line.trimmed().isEmpty())
            return;
        const auto object = tunnelwire::decode(line);
        if (!object) {
            log().error(QStringLiteral("dropped a malformed line from the tunnel provider (%1 bytes)").arg(line.size()));
            return;
        }
        if (object->contains(QStringLiteral("event"))) {
            handleEvent(*object);
            return;
        }
        const QJsonValue id = object->value(QStringLiteral("id"));
        if (!id.isDouble() || id.toDouble() != std::trunc(id.toDouble())) {
            log().error(QStringLiteral("dropped a line from the tunnel provider without event or request id"));
            return;
        }
        const auto it = pending.find(qint64(id.toDouble()));
        if (it == pending.end()) {
            log().debug(QStringLiteral("ignored a reply to unknown request %1").arg(qint64(id.toDouble())));
            return;
        }
        const Pending p = *it;
        pending.erase(it);
        handleReply(p, *object);
    }

    void handleEvent(const QJsonObject &object)
    {
        const QJsonValue status = object.value(QStringLiteral("status"));
        const double n = status.toDouble(-1);
        if (object.value(QStringLiteral("event")).toString() != QLatin1String(tunnelwire::kEventStatus)
            || !status.isDouble() || n != std::trunc(n) || n < 0 || n > 5) {
            log().error(QStringLiteral("dropped an invalid event from the tunnel provider"));
            return;
        }
        providerStatus = VPNStatus(int(n));
        publish();
    }

    static QString errorText(const QJsonObject &reply)
    {
        const QJsonObject error = reply.value(QStringLiteral("error")).toObject();
        return QStringLiteral("%1 %2: %3")
            .arg(error.value(QStringLiteral("domain")).toString(QStringLiteral("unknown")))
            .arg(error.value(QStringLiteral("code")).toInt())
            .arg(error.value(QStringLiteral("message")).toString());
    }

    void handleReply(const Pending &p, const QJsonObject &reply)
    {
        const bool ok = reply.value(QStringLiteral("ok")).toBool(false);
        switch (p.kind) {
        case Kind::Start:
            if (!ok) {
                log().error(QStringLiteral("tunnel provider failed to start: %1").arg(errorText(reply)));
                providerStatus = VPNStatus::Disconnected;
                publish();
            }
            return;
        case Kind::Stop:
            if (!ok)
                log().error(QStringLiteral("tunnel provider failed to stop: %1").arg(errorText(reply)));
            return;
        case Kind::Message:
            break;
        }
        std::optional<QByteArray> data;
        const QJsonValue encoded = reply.value(QStringLiteral("data"));
        if (!ok) {
            log().error(QStringLiteral("provider message failed: %1").arg(errorText(reply)));
        } else if (encoded.isString()) {
            auto decoded = QByteArray::fromBase64Encoding(encoded.toString().toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
            if (decoded)
                data = std::move(*decoded);
            else
                log().error(QStringLiteral("dropped a provider message reply that is not base64"));
        }
        if (p.handler)
            p.handler(std::move(data));
    }

    // Sends one request; throws when it cannot go out now.
    qint64 send(QJsonObject request, Kind kind, ResponseHandler handler)
    {
        if (!connected)
            tryConnect();
        if (!connected)
            throw VPNError(VPNError::ConnectionFailed, QStringLiteral("the tunnel provider is not running"));
        const qint64 id = nextID++;
        request.insert(QStringLiteral("id"), double(id));
        const QByteArray line = tunnelwire::encode(request);
        if (line.size() > tunnelwire::kMaxLineBytes)
            throw VPNError(VPNError::ConfigurationInvalid, QStringLiteral("request over %1 bytes").arg(tunnelwire::kMaxLineBytes));
        pending.insert(id, Pending{kind, std::move(handler)});
        socket->write(line);
        return id;
    }
};

TunnelProviderSession::TunnelProviderSession(TunnelProviderManager *manager, TunnelPreferences *preferences)
    : QObject(manager), d(std::make_unique<Private>())
{
    d->q = this;
    d->manager = manager;
    d->preferences = preferences;
    d->socket = new QLocalSocket(this);
    d->retry.setSingleShot(true);
    d->retry.setInterval(preferences->options().reconnectInterval);
    connect(&d->retry, &QTimer::timeout, this, [this] { d->tryConnect(); });
    connect(d->socket, &QLocalSocket::connected, this, [this] { d->onConnected(); });
    connect(d->socket, &QLocalSocket::readyRead, this, [this] { d->readAvailable(); });
    connect(d->socket, &QLocalSocket::stateChanged, this, [this](QLocalSocket::LocalSocketState state) {
        if (state == QLocalSocket::UnconnectedState)
            d->onUnconnected();
    });
    // Connect from the event loop, so that nothing is emitted while the manager is being made.
    QTimer::singleShot(0, this, [this] { d->tryConnect(); });
}

TunnelProviderSession::~TunnelProviderSession()
{
    disconnect(d->socket, nullptr, this, nullptr);
    d->socket->abort();
    const auto dropped = std::exchange(d->pending, {});
    for (const auto &p : dropped) {
        if (p.handler)
            p.handler(std::nullopt);
    }
}

VPNStatus TunnelProviderSession::status() const
{
    return d->status();
}

bool TunnelProviderSession::isProviderConnected() const
{
    return d->connected;
}

void TunnelProviderSession::startVPNTunnel(const QVariantMap &options)
{
    if (!d->manager->isSaved())
        throw VPNError(VPNError::ConfigurationInvalid, QStringLiteral("the configuration has not been saved"));
    const QJsonArray entries = d->preferences->readEntries();
    const qsizetype index = indexOf(entries, d->manager->identifier());
    if (index < 0)
        throw VPNError(VPNError::ConfigurationInvalid, QStringLiteral("the configuration is no longer saved"));
    const QJsonObject saved = entries.at(index).toObject();
    if (!saved.value(key::enabled).toBool(false))
        throw VPNError(VPNError::ConfigurationDisabled, QStringLiteral("the configuration is disabled"));
    QJsonObject request{{QStringLiteral("method"), QLatin1String(tunnelwire::kMethodStart)},
                        {QStringLiteral("options"), jsonFromMap(options, QStringLiteral("options"))},
                        {QStringLiteral("configuration"), saved}};
    d->send(std::move(request), Private::Kind::Start, {});
}

void TunnelProviderSession::stopVPNTunnel()
{
    if (!d->connected)
        return;
    d->send(QJsonObject{{QStringLiteral("method"), QLatin1String(tunnelwire::kMethodStop)}}, Private::Kind::Stop, {});
}

void TunnelProviderSession::sendProviderMessage(const QByteArray &message, ResponseHandler handler)
{
    const qint64 id = d->send(QJsonObject{{QStringLiteral("method"), QLatin1String(tunnelwire::kMethodMessage)},
                                          {QStringLiteral("data"), QString::fromLatin1(message.toBase64())}},
                              Private::Kind::Message, std::move(handler));
    const auto bound = d->preferences->options().messageReplyTimeout;
    QTimer::singleShot(bound, this, [this, id, bound] {
        const auto it = d->pending.find(id);
        if (it == d->pending.end())
            return;
        const auto handler = std::move(it->handler);
        d->pending.erase(it);
        log().error(QStringLiteral("provider message got no reply within %1 ms").arg(bound.count()));
        if (handler)
            handler(std::nullopt);
    });
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

namespace {

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
        {key::onDemandRules, jsonFromVariant(m.onDemandRules(), key::onDemandRules)},
        {key::protocol,
         QJsonObject{{key::bundleID, protocol->providerBundleIdentifier},
                     {key::serverAddress, protocol->serverAddress},
                     {key::providerConfiguration,
                      jsonFromMap(protocol->providerConfiguration, key::providerConfiguration)}}},
    };
}

} // namespace

QCoro::Task<void> TunnelProviderManager::saveToPreferences()
{
    if (!m_preferences)
        throw VPNError(VPNError::ConfigurationReadWriteFailed, QStringLiteral("the preferences are gone"));
    const QJsonObject entry = entryOf(*this);
    QJsonArray entries = m_preferences->readEntries();
    const qsizetype index = indexOf(entries, m_identifier);
    if (index < 0)
        entries.append(entry);
    else
        entries.replace(index, entry);
    m_preferences->writeEntries(entries);
    m_saved = true;
    m_connection->d->publish();
    co_return;
}

QCoro::Task<void> TunnelProviderManager::loadFromPreferences()
{
    if (!m_preferences)
        throw VPNError(VPNError::ConfigurationReadWriteFailed, QStringLiteral("the preferences are gone"));
    const QJsonArray entries = m_preferences->readEntries();
    const qsizetype index = indexOf(entries, m_identifier);
    if (index < 0)
        throw VPNError(VPNError::ConfigurationInvalid, QStringLiteral("the configuration is not saved"));
    m_preferences->apply(this, entries.at(index).toObject());
    co_return;
}

// --- TunnelPreferences ------------------------------------------------------

TunnelPreferences::TunnelPreferences(Options options, QObject *parent) : QObject(parent), m_options(std::move(options))
{
    if (m_options.configurationsFile.isEmpty())
        m_options.configurationsFile = defaultConfigurationsFile();
    if (m_options.socketPath.isEmpty())
        m_options.socketPath = tunnelwire::socketPath();
}

TunnelPreferences::~TunnelPreferences() = default;

TunnelPreferences *TunnelPreferences::shared()
{
    static auto *instance = new TunnelPreferences; // lives for the process
    return instance;
}

QJsonArray TunnelPreferences::readEntries() const
{
    QFile file(m_options.configurationsFile);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        throw VPNError(VPNError::ConfigurationReadWriteFailed,
                       QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
    const auto doc = QJsonDocument::fromJson(file.readAll());
    if (!doc.isObject()) {
        // A damaged file holds nothing usable, but it is kept aside for inspection rather
        // than overwritten by the next save.
        file.close();
        QString error;
        const auto aside = files::moveAside(file.fileName(), Clock::system()->now(), &error);
        if (!aside)
            throw VPNError(VPNError::ConfigurationReadWriteFailed,
                           QStringLiteral("%1 is not a valid configurations file and cannot be moved aside: %2")
                               .arg(file.fileName(), error));
        log().error(QStringLiteral("%1 is not a valid configurations file; moved it aside to %2")
                        .arg(file.fileName(), *aside));
        return {};
    }
    return doc.object().value(key::configurations).toArray();
}

void TunnelPreferences::writeEntries(const QJsonArray &entries) const
{
    const QString path = m_options.configurationsFile;
    const QByteArray text = QJsonDocument(QJsonObject{{key::configurations, entries}}).toJson(QJsonDocument::Indented);
    // The file holds the subscription URL with its token: owner-only, like the defaults.
    QString error;
    if (!files::writeAtomically(path, text, &error))
        throw VPNError(VPNError::ConfigurationReadWriteFailed, QStringLiteral("cannot write %1: %2").arg(path, error));
}

void TunnelPreferences::apply(TunnelProviderManager *m, const QJsonObject &entry)
{
    const QJsonValue protocol = entry.value(key::protocol);
    if (protocol.isObject()) {
        const QJsonObject p = protocol.toObject();
        m->m_protocol = TunnelProviderProtocol{p.value(key::bundleID).toString(), p.value(key::serverAddress).toString(),
                                               mapFromJson(p.value(key::providerConfiguration).toObject())};
    } else {
        m->m_protocol.reset();
    }
    m->m_description = entry.value(key::description).toString();
    m->m_enabled = entry.value(key::enabled).toBool(false);
    m->m_onDemandEnabled = entry.value(key::onDemandEnabled).toBool(false);
    m->m_onDemandRules = variantFromJson(entry.value(key::onDemandRules).toArray()).toList();
    m->m_saved = true;
    m->m_connection->d->publish();
}

QCoro::Task<QList<TunnelProviderManager *>> TunnelPreferences::loadAllFromPreferences()
{
    const QJsonArray entries = readEntries();
    QList<TunnelProviderManager *> managers;
    for (const auto &entry : entries) {
        const auto id = identifierOf(entry);
        if (!id) {
            log().error(QStringLiteral("skipped a saved configuration without a valid identifier"));
            continue;
        }
        TunnelProviderManager *m = managerFor(*id);
        if (managers.contains(m))
            continue;
        apply(m, entry.toObject());
        managers.append(m);
    }
    co_return managers;
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
