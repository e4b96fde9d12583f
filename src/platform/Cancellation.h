#pragma once

#include "platform/Error.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

namespace kovra {

namespace detail {
class CancellationState : public QObject {
    Q_OBJECT
public:
    bool cancelled = false;
    void cancel();
Q_SIGNALS:
    void triggered();
};

} // namespace detail

// The observing side of a cancellation. A default token is never cancelled.
class CancellationToken {
public:
    CancellationToken() = default;

    bool isCancelled() const { return m_state && m_state->cancelled; }
    bool canBeCancelled() const { return bool(m_state); }
    // Throws CancellationError when cancelled: the explicit cancellation point.
    void throwIfCancelled() const;

    // Runs f once when the token is cancelled, queued on context's thread; when the
    // token is already cancelled f is queued at once. Disconnect the result to stop.
    QMetaObject::Connection onCancel(QObject *context, std::function<void()> f) const;

    // Emits triggered() once when cancelled (for qCoro waits).
    detail::CancellationState *notifier() const { return m_state.get(); }

private:
    friend class CancellationSource;
    explicit CancellationToken(std::shared_ptr<detail::CancellationState> s) : m_state(std::move(s)) {}
    std::shared_ptr<detail::CancellationState> m_state;
};

// The owning side: cancel() fires every token handed out. Must be used on the GUI thread.
class CancellationSource {
public:
    CancellationSource();
    // A source that is also cancelled when parent is cancelled.
    static CancellationSource linkedTo(const CancellationToken &parent);

    CancellationToken token() const { return CancellationToken(m_state); }
    void cancel();
    bool isCancelled() const { return m_state->cancelled; }

private:
    std::shared_ptr<detail::CancellationState> m_state;
    std::shared_ptr<QMetaObject::Connection> m_link;
};

// Owns a QObject and releases it with deleteLater(): a coroutine often resumes inside
// one of the object's own signals, where destroying it at once is unsafe.
struct DeleteLater {
    void operator()(QObject *object) const { object->deleteLater(); }
};
template<typename T>
using LaterPtr = std::unique_ptr<T, DeleteLater>;

} // namespace kovra
