#pragma once

#include "platform/Clock.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>

namespace kovra {

class SystemExtensionRequest;

enum class SystemExtensionRequestResult { Completed, WillCompleteAfterReboot };
enum class SystemExtensionReplacementAction { Cancel, Replace };

// Receives the outcome of an activation request, always on the GUI thread and never
// from inside the submit call.
class SystemExtensionRequestDelegate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void requestDidFinish(const SystemExtensionRequest &request, SystemExtensionRequestResult result) = 0;
    virtual void requestDidFail(const SystemExtensionRequest &request, const QString &errorDescription) = 0;
    virtual void requestNeedsUserApproval(const SystemExtensionRequest &request) = 0;
    // Asked when an installed version would be replaced by the one being activated.
    virtual SystemExtensionReplacementAction actionForReplacingExtension(const SystemExtensionRequest &request,
                                                                         const QString &existingVersion,
                                                                         const QString &newVersion) = 0;
};

// A request to activate the extension with the given identifier. Holds its delegate
// weakly: a callback for a delegate that is gone is dropped.
class SystemExtensionRequest {
public:
    static std::shared_ptr<SystemExtensionRequest> activationRequest(const QString &identifier);

    QString identifier() const { return m_identifier; }
    SystemExtensionRequestDelegate *delegate() const { return m_delegate; }
    void setDelegate(SystemExtensionRequestDelegate *delegate) { m_delegate = delegate; }

    // Used by managers to deliver outcomes (each does nothing when the delegate is gone).
    void finish(SystemExtensionRequestResult result) const;
    void fail(const QString &errorDescription) const;
    void needUserApproval() const;
    SystemExtensionReplacementAction askReplacement(const QString &existingVersion, const QString &newVersion) const;

private:
    explicit SystemExtensionRequest(QString identifier) : m_identifier(std::move(identifier)) {}
    QString m_identifier;
    QPointer<SystemExtensionRequestDelegate> m_delegate;
};

// Takes activation requests and answers each through its delegate, later, on the GUI
// thread; every request gets an outcome.
class SystemExtensionManager {
public:
    virtual ~SystemExtensionManager() = default;
    virtual void submitRequest(std::shared_ptr<SystemExtensionRequest> request) = 0;
};

// On Linux the "extension" is the tunnel provider process: a request completes when
// the provider answers on its socket within the bound, and fails with a text naming
// what is missing otherwise (no socket, nobody listening, no answer, or a socket folder
// that others could have put a socket in). It never asks for approval or a reboot.
class ProviderActivationManager : public QObject, public SystemExtensionManager {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDefaultAnswerTimeout{5000};

    // Checks the provider that listens at `socketPath`.
    explicit ProviderActivationManager(QString socketPath,
                                       std::chrono::milliseconds answerTimeout = kDefaultAnswerTimeout,
                                       QObject *parent = nullptr, std::shared_ptr<Clock> clock = Clock::system());

    void submitRequest(std::shared_ptr<SystemExtensionRequest> request) override;

private:
    QString m_socketPath;
    std::chrono::milliseconds m_answerTimeout;
    std::shared_ptr<Clock> m_clock;
};

} // namespace kovra
