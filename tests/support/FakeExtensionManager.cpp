#include "support/FakeExtensionManager.h"

#include <QTimer>

namespace kovra::test {

FakeExtensionManager::FakeExtensionManager(QList<Callback> script, QObject *parent)
    : QObject(parent), m_script(std::move(script))
{
}

void FakeExtensionManager::submitRequest(std::shared_ptr<SystemExtensionRequest> request)
{
    m_requests.append(request);
    std::chrono::milliseconds at{0};
    for (const auto &callback : std::as_const(m_script)) {
        at += callback.after;
        schedule(request, callback, at);
    }
}

void FakeExtensionManager::deliver(Callback callback)
{
    if (!m_requests.isEmpty())
        schedule(m_requests.last(), callback, callback.after);
}

void FakeExtensionManager::schedule(std::shared_ptr<SystemExtensionRequest> request, Callback callback,
                                    std::chrono::milliseconds at)
{
    QTimer::singleShot(at, this, [this, request, callback] {
        switch (callback.kind) {
        case Callback::Completed:
            request->finish(SystemExtensionRequestResult::Completed);
            break;
        case Callback::WillCompleteAfterReboot:
            request->finish(SystemExtensionRequestResult::WillCompleteAfterReboot);
            break;
        case Callback::Failed:
            request->fail(callback.errorText);
            break;
        case Callback::NeedsApproval:
            request->needUserApproval();
            break;
        case Callback::AskReplacement:
            m_replacementAnswers.append(request->askReplacement(QStringLiteral("1.0"), QStringLiteral("1.1")));
            break;
        }
    });
}

} // namespace kovra::test
