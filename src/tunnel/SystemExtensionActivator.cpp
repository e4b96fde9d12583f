#include "tunnel/SystemExtensionActivator.h"

#include "platform/L10n.h"

namespace kovra {

std::optional<QString> SystemExtensionState::userMessage() const
{
    switch (m_kind) {
    case NeedsApproval:
        return L10n::text("home.sysext.needsApproval",
                          u"Разрешите запуск службы туннеля Kovra S и подключитесь снова.");
    case NeedsReboot:
        return L10n::text("home.sysext.needsReboot",
                          u"Служба туннеля заработает после перезагрузки компьютера. Перезагрузите его и подключитесь снова.");
    case Failed:
        return L10n::text("home.sysext.failed",
                          u"Служба туннеля не отвечает. Проверьте, что она запущена, и попробуйте снова.");
    case Unknown:
    case Activating:
    case Activated:
        break;
    }
    return std::nullopt;
}

QString SystemExtensionState::description() const
{
    switch (m_kind) {
    case Failed:
        return QStringLiteral("failed(\"%1\")").arg(m_error);
    case Unknown:
        return QStringLiteral("unknown");
    case Activating:
        return QStringLiteral("activating");
    case NeedsApproval:
        return QStringLiteral("needsApproval");
    case NeedsReboot:
        return QStringLiteral("needsReboot");
    case Activated:
        return QStringLiteral("activated");
    }
    return {};
}

SystemExtensionActivator::SystemExtensionActivator(SystemExtensionManager &manager, QObject *parent)
    : SystemExtensionRequestDelegate(parent), m_manager(manager)
{
}

SystemExtensionActivator::~SystemExtensionActivator()
{
    // A request still waiting ends as unknown: nobody is left to hear the system's answer.
    if (auto waiter = std::exchange(m_settle, std::nullopt))
        waiter->resolve(SystemExtensionState::unknown());
}

QCoro::Task<SystemExtensionState> SystemExtensionActivator::activate()
{
    if (m_state.kind() == SystemExtensionState::Activated)
        co_return SystemExtensionState::activated();
    if (m_inFlight.isValid()) {
        const Operation<SystemExtensionState> running = m_inFlight;
        co_return co_await running.value();
    }
    QPointer<SystemExtensionActivator> self(this);
    const auto op = Operation<SystemExtensionState>::run([self](CancellationToken) { return runActivation(self); });
    m_inFlight = op;
    const SystemExtensionState result = co_await op.value();
    if (self && self->m_inFlight == op)
        self->m_inFlight.reset();
    co_return result;
}

QCoro::Task<SystemExtensionState> SystemExtensionActivator::runActivation(QPointer<SystemExtensionActivator> self)
{
    if (!self)
        co_return SystemExtensionState::unknown();
    co_return co_await self->runRequest();
}

QCoro::Task<SystemExtensionState> SystemExtensionActivator::runRequest()
{
    setState(SystemExtensionState::activating());
    const OneShot<SystemExtensionState> answer;
    m_settle = answer;
    auto request = SystemExtensionRequest::activationRequest(kExtensionIdentifier);
    request->setDelegate(this);
    m_manager.submitRequest(std::move(request));
    // Only the one-shot is touched from here on: the activator may be gone when it resumes.
    co_return co_await answer.wait();
}

void SystemExtensionActivator::settle(const SystemExtensionState &state)
{
    // The first answer ends the waiting request; later ones only move the state on.
    setState(state);
    if (auto waiter = std::exchange(m_settle, std::nullopt))
        waiter->resolve(state);
}

void SystemExtensionActivator::setState(const SystemExtensionState &state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged();
}

void SystemExtensionActivator::requestDidFinish(const SystemExtensionRequest &, SystemExtensionRequestResult result)
{
    const bool completed = result == SystemExtensionRequestResult::Completed;
    m_log.info(QStringLiteral("sysext request finished: %1")
                   .arg(completed ? QStringLiteral("completed") : QStringLiteral("willCompleteAfterReboot")));
    settle(completed ? SystemExtensionState::activated() : SystemExtensionState::needsReboot());
}

void SystemExtensionActivator::requestDidFail(const SystemExtensionRequest &, const QString &errorDescription)
{
    m_log.error(QStringLiteral("sysext activation failed: %1").arg(errorDescription));
    settle(SystemExtensionState::failed(errorDescription));
}

void SystemExtensionActivator::requestNeedsUserApproval(const SystemExtensionRequest &)
{
    m_log.info(QStringLiteral("sysext activation needs user approval in System Settings"));
    settle(SystemExtensionState::needsApproval());
}

SystemExtensionReplacementAction SystemExtensionActivator::actionForReplacingExtension(const SystemExtensionRequest &,
                                                                                       const QString &,
                                                                                       const QString &)
{
    return SystemExtensionReplacementAction::Replace;
}

} // namespace kovra
