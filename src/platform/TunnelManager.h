#pragma once

#include "platform/Async.h"
#include "platform/Clock.h"
#include "platform/PlatformPaths.h"
#include "platform/TunnelConfigurationsFile.h"
#include "platform/VPNError.h"
#include "platform/VPNStatus.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <QVariantList>
#include <QVariantMap>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kovra {

class TunnelPreferences;
class TunnelProviderSession;

// The tunnel protocol of a saved configuration. Provider configuration values are
// strings, Booleans, numbers, string lists (and nested lists and maps that a provider
// may have stored). Read back from the file, Booleans come as numbers (qint64 0 or 1)
// and arrays of strings as QStringList.
struct TunnelProviderProtocol {
    QString providerBundleIdentifier;
    QString serverAddress;
    QVariantMap providerConfiguration;

    friend bool operator==(const TunnelProviderProtocol &, const TunnelProviderProtocol &) = default;
};

// One saved VPN configuration (the "manager"). The object has identity: loading the
// saved configurations again hands out the same object for the same configuration,
// refreshed from the file. Owned by its TunnelPreferences; lives on the GUI thread.
class TunnelProviderManager : public QObject {
    Q_OBJECT
public:
    // Stable identity of the saved configuration (assigned when it is created).
    QUuid identifier() const { return m_identifier; }

    std::optional<TunnelProviderProtocol> protocolConfiguration() const { return m_protocol; }
    void setProtocolConfiguration(std::optional<TunnelProviderProtocol> protocol) { m_protocol = std::move(protocol); }

    QString localizedDescription() const { return m_description; }
    void setLocalizedDescription(const QString &description) { m_description = description; }

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

    bool isOnDemandEnabled() const { return m_onDemandEnabled; }
    void setOnDemandEnabled(bool enabled) { m_onDemandEnabled = enabled; }

    // Connect-on-demand rules, kept as the provider-independent maps they were saved as.
    QVariantList onDemandRules() const { return m_onDemandRules; }
    void setOnDemandRules(const QVariantList &rules) { m_onDemandRules = rules; }

    // True once the configuration has been saved or loaded from the file.
    bool isSaved() const { return m_saved; }

    // The tunnel of this configuration; never null, lives as long as the manager.
    TunnelProviderSession *connection() const { return m_connection; }

    // Writes this configuration into the file (replacing its earlier version, keeping
    // every other configuration). Throws VPNError: ConfigurationInvalid (no protocol, or
    // a provider configuration value of an unsupported type), ConfigurationReadWriteFailed
    // (the file cannot be read or written).
    QCoro::Task<void> saveToPreferences();
    // Rereads this configuration from the file, then waits (bounded) until the provider's
    // status is known, as loadAllFromPreferences() does. Throws VPNError:
    // ConfigurationInvalid (not saved there), ConfigurationReadWriteFailed (the file cannot
    // be read).
    QCoro::Task<void> loadFromPreferences();

private:
    friend class TunnelPreferences;
    TunnelProviderManager(TunnelPreferences *preferences, QUuid identifier);

    QPointer<TunnelPreferences> m_preferences;
    QUuid m_identifier;
    std::optional<TunnelProviderProtocol> m_protocol;
    QString m_description;
    bool m_enabled = false;
    bool m_onDemandEnabled = false;
    QVariantList m_onDemandRules;
    bool m_saved = false;
    TunnelProviderSession *m_connection = nullptr;
};

// The running tunnel of a configuration, reached over the provider's Unix socket.
// Everything happens on the GUI thread and nothing blocks: the socket connects and
// reconnects in the background (ProviderSocketClient.h); status changes and replies
// arrive from the event loop, never inside a call made to the session.
class TunnelProviderSession : public QObject {
    Q_OBJECT
public:
    // The handler of a provider message: the provider's reply bytes, or none when it
    // replied without data, dropped the connection or stayed silent past the bound.
    using ResponseHandler = std::function<void(std::optional<QByteArray>)>;

    // Invalid until the configuration is saved; Disconnecting while a stop that had to
    // wait for a provider is on its way (stopVPNTunnel()); Disconnected while no provider
    // answers on the socket; otherwise the last status the provider reported.
    VPNStatus status() const;
    // True while the socket to the provider is connected.
    bool isProviderConnected() const;

    // Asks the provider to start the tunnel with the saved configuration and the options,
    // and waits for its answer, at most the reply bound. Throws VPNError at once, sending
    // nothing, on local checks: the configuration not saved or gone from the file
    // (ConfigurationInvalid), disabled (ConfigurationDisabled), the file unreadable
    // (ConfigurationReadWriteFailed), no provider on the socket (ConnectionFailed). The
    // task then fails with the provider's refusal as the VPNError it reports (its domain,
    // code and message), with ConnectionFailed when the provider went away before
    // answering, or with CancellationError once `cancel` fired (the request stays sent).
    // No answer within the bound counts as accepted: the reported status tells the rest.
    QCoro::Task<void> startVPNTunnel(const QVariantMap &options = {}, CancellationToken cancel = {});
    // Asks the provider to stop the tunnel (a start asked later replaces the stop). Sent at
    // once when a provider is connected; otherwise it waits for one, at most the stop
    // bound, and goes out as soon as one connects (several stops asked meanwhile go out
    // as one). A stop whose connection drops before the provider carried it out goes out
    // again on the next connection. Once a stop has had to wait, the tunnel reads
    // Disconnecting until the provider has answered it, and after that never as up
    // before the provider reports the tunnel not up or the reply bound has passed. The
    // returned one-shot resolves once the stop is written to the provider; it fails with
    // VPNError(ConnectionFailed) when no provider connected within the bound, and with
    // CancellationError when a start replaced it first or the session ended. Callers
    // that need not know may ignore it.
    OneShot<> stopVPNTunnel();

    // Sends a provider message. Throws VPNError(ConnectionFailed) at once when no provider
    // is connected (or ConfigurationInvalid when the message is over the line cap). After a
    // successful send the handler runs exactly once, later, on the GUI thread: with the
    // reply bytes, or none (dropped connection, no data, no reply within the reply bound).
    void sendProviderMessage(const QByteArray &message, ResponseHandler handler);
    // The same as a task: throws VPNError when the send fails, else yields the reply.
    QCoro::Task<std::optional<QByteArray>> providerMessage(QByteArray message);

Q_SIGNALS:
    // Emitted on the GUI thread on every real change of status(): from the event loop
    // for what the provider reports, and from save or load for the saved state.
    void statusChanged(kovra::vpn::Status status);

private:
    friend class TunnelProviderManager;
    friend class TunnelPreferences;
    TunnelProviderSession(TunnelProviderManager *manager, TunnelPreferences *preferences);
    ~TunnelProviderSession() override;

    struct Private;
    std::unique_ptr<Private> d;
};

// Where the saved configurations and the provider are, and the layer's bounds.
struct TunnelPreferencesOptions {
    // Required, both: the file of the saved configurations and the provider's socket.
    // in() gives the product's file below the given folders.
    QString configurationsFile;
    QString socketPath;
    // How long a provider message, or a start, waits for its reply; also how long, once
    // sent, a stop that had to wait holds the tunnel at Disconnecting while the provider
    // has not acted on it.
    std::chrono::milliseconds messageReplyTimeout{10000};
    // How long a stop asked while no provider is connected waits for one.
    std::chrono::milliseconds stopDeliveryTimeout{10000};
    // When a lost or absent provider socket is tried again: first after this, then
    // twice as long after each failure up to maxReconnectInterval. A change in the
    // socket's folder tries again at once.
    std::chrono::milliseconds reconnectInterval{1000};
    std::chrono::milliseconds maxReconnectInterval{30000};
    // How long loading waits for the provider to report the status of a loaded
    // configuration (a missing socket ends the wait at once).
    std::chrono::milliseconds firstStatusTimeout{1000};
    // Default: Clock::system().
    std::shared_ptr<Clock> clock;

    // <configFolder>/vpn-configurations.json below `paths`, the provider at `socketPath`,
    // every bound at its product value.
    static TunnelPreferencesOptions in(const PlatformPaths &paths, QString socketPath);
};

// The saved VPN configurations of this user, stored in one JSON file, and the way to
// their tunnels. One instance per file; it owns the manager objects it hands out.
class TunnelPreferences : public QObject {
    Q_OBJECT
public:
    using Options = TunnelPreferencesOptions;

    // Throws std::invalid_argument when the file or the socket path is missing.
    explicit TunnelPreferences(Options options, QObject *parent = nullptr);
    ~TunnelPreferences() override;

    const Options &options() const { return m_options; }

    // Every saved configuration, in file order (the same object for the same saved
    // configuration on every call). An absent file is an empty list, and so is a damaged
    // one (logged and moved aside). Before it returns, each configuration's session has
    // the provider's real status: loading connects to the provider when not connected
    // and waits for its first status, at most firstStatusTimeout (no provider: it reads
    // Disconnected). Throws VPNError(ConfigurationReadWriteFailed) when the file cannot
    // be read.
    QCoro::Task<QList<TunnelProviderManager *>> loadAllFromPreferences();

    // A new configuration, not yet saved (its status reads Invalid until it is).
    TunnelProviderManager *createManager();

private:
    friend class TunnelProviderManager;
    friend class TunnelProviderSession;

    void apply(TunnelProviderManager *manager, const QJsonObject &entry);
    TunnelProviderManager *managerFor(const QUuid &identifier);
    static QCoro::Task<void> waitForStatuses(QList<QPointer<TunnelProviderManager>> managers,
                                             std::chrono::milliseconds bound, std::shared_ptr<Clock> clock);

    Options m_options;
    TunnelConfigurationsFile m_file;
    QHash<QUuid, TunnelProviderManager *> m_managers;
};

} // namespace kovra
