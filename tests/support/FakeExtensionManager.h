#pragma once

#include "platform/SystemExtension.h"

#include <QList>
#include <QObject>

#include <chrono>
#include <memory>

namespace kovra::test {

// A scripted stand-in for the extension manager. Each submitted request gets the
// script's callbacks, queued on the event loop (never inside submitRequest()); with an
// empty script nothing is answered until the test calls deliver().
class FakeExtensionManager : public QObject, public SystemExtensionManager {
    Q_OBJECT
public:
    struct Callback {
        enum Kind { Completed, WillCompleteAfterReboot, Failed, NeedsApproval, AskReplacement };
        Callback(Kind kind, QString errorText = {}, std::chrono::milliseconds after = {})
            : kind(kind), errorText(std::move(errorText)), after(after) {}
        Kind kind;
        QString errorText;               // Failed
        std::chrono::milliseconds after; // after the previous callback
    };

    explicit FakeExtensionManager(QList<Callback> script = {}, QObject *parent = nullptr);

    void setScript(QList<Callback> script) { m_script = std::move(script); }
    void submitRequest(std::shared_ptr<SystemExtensionRequest> request) override;

    int submitCount() const { return int(m_requests.size()); }
    const QList<std::shared_ptr<SystemExtensionRequest>> &requests() const { return m_requests; }
    // What the delegate answered to each AskReplacement.
    const QList<SystemExtensionReplacementAction> &replacementAnswers() const { return m_replacementAnswers; }

    // Delivers one callback to the latest request, queued.
    void deliver(Callback callback);

private:
    void schedule(std::shared_ptr<SystemExtensionRequest> request, Callback callback, std::chrono::milliseconds at);

    QList<Callback> m_script;
    QList<std::shared_ptr<SystemExtensionRequest>> m_requests;
    QList<SystemExtensionReplacementAction> m_replacementAnswers;
};

} // namespace kovra::test
