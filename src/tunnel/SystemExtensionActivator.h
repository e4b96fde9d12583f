#pragma once

#include "platform/Async.h"
#include "platform/Log.h"
#include "platform/SystemExtension.h"

#include <QMetaType>
#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace kovra {

// Where the activation of the packet-tunnel provider stands.
class SystemExtensionState {
    Q_GADGET
public:
    enum Kind { Failed, Unknown, Activating, NeedsApproval, NeedsReboot, Activated };
    Q_ENUM(Kind)

    SystemExtensionState() = default;
    static SystemExtensionState failed(QString errorDescription) { return {Failed, std::move(errorDescription)}; }
    static SystemExtensionState unknown() { return {Unknown, {}}; }
    static SystemExtensionState activating() { return {Activating, {}}; }
    static SystemExtensionState needsApproval() { return {NeedsApproval, {}}; }
    static SystemExtensionState needsReboot() { return {NeedsReboot, {}}; }
    static SystemExtensionState activated() { return {Activated, {}}; }

    Kind kind() const { return m_kind; }
    // The error text of a failed state (empty for the others).
    QString errorDescription() const { return m_error; }
    // What the user is told: approval, reboot and failure have a text; the others none.
    std::optional<QString> userMessage() const;
    // For logs: "activated", "needsApproval", "failed(\"<error>\")", ...
    QString description() const;

    friend bool operator==(const SystemExtensionState &, const SystemExtensionState &) = default;

private:
    SystemExtensionState(Kind kind, QString error) : m_kind(kind), m_error(std::move(error)) {}
    Kind m_kind = Unknown;
    QString m_error;
};

// Activates the packet-tunnel provider and publishes where that stands. At most one
// request is in flight: concurrent callers share it. Lives on the GUI thread.
class SystemExtensionActivator : public SystemExtensionRequestDelegate {
    Q_OBJECT
    Q_PROPERTY(kovra::SystemExtensionState state READ state NOTIFY stateChanged)
public:
    static inline const QString kExtensionIdentifier = QStringLiteral("com.kovra.client-sign-box.PacketTunnel");

    // The manager must outlive the activator.
    explicit SystemExtensionActivator(SystemExtensionManager &manager, QObject *parent = nullptr);
    ~SystemExtensionActivator() override;

    SystemExtensionState state() const { return m_state; }
    QString extensionIdentifier() const { return kExtensionIdentifier; }

    // The state the activation ended in; never throws. Activated is final: once there,
    // nothing more is submitted. A request still waiting for the system is joined.
    QCoro::Task<SystemExtensionState> activate();

    void requestDidFinish(const SystemExtensionRequest &request, SystemExtensionRequestResult result) override;
    void requestDidFail(const SystemExtensionRequest &request, const QString &errorDescription) override;
    void requestNeedsUserApproval(const SystemExtensionRequest &request) override;
    SystemExtensionReplacementAction actionForReplacingExtension(const SystemExtensionRequest &request,
                                                                 const QString &existingVersion,
                                                                 const QString &newVersion) override;

Q_SIGNALS:
    void stateChanged();

private:
    static QCoro::Task<SystemExtensionState> runActivation(QPointer<SystemExtensionActivator> self);
    QCoro::Task<SystemExtensionState> runRequest();
    void settle(const SystemExtensionState &state);
    void setState(const SystemExtensionState &state);

    SystemExtensionManager &m_manager;
    Logger m_log{QStringLiteral("SystemExtension")};
    SystemExtensionState m_state;
    Operation<SystemExtensionState> m_inFlight;
    // The answer the running request waits for; none when nothing waits.
    std::optional<OneShot<SystemExtensionState>> m_settle;
};

} // namespace kovra

Q_DECLARE_METATYPE(kovra::SystemExtensionState)
