#pragma once

#include "platform/Error.h"

#include <QObject>
#include <QPointer>

#include <qcoro/qcorotask.h>
#include <qcoro/qcorosignal.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

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

class OperationSignal : public QObject {
    Q_OBJECT
public:
    bool finished = false;
    std::exception_ptr error;
Q_SIGNALS:
    void done();
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

// Sleeps for the interval; ends early with CancellationError when the token fires.
QCoro::Task<void> sleepFor(std::chrono::milliseconds interval, CancellationToken token = {});

// Waits until the token is cancelled (never ends for a token that cannot be cancelled
// unless the caller's frame is destroyed).
QCoro::Task<void> waitUntilCancelled(CancellationToken token);

// A running operation that several callers can await. The body runs once, with the
// operation's own cancellation token; every waiter gets a copy of its result or its error.
template<typename T>
class Operation {
public:
    Operation() = default;

    template<typename Body>
    static Operation run(Body &&body)
    {
        Operation op;
        op.m_state = std::make_shared<State>();
        op.m_source = std::make_shared<CancellationSource>();
        drive(op.m_state, std::forward<Body>(body)(op.m_source->token()));
        return op;
    }

    bool isValid() const { return bool(m_state); }
    bool isFinished() const { return m_state && m_state->finished; }
    void cancel() const
    {
        if (m_source)
            m_source->cancel();
    }
    CancellationToken token() const { return m_source ? m_source->token() : CancellationToken(); }

    // The operation's result (copied) or its error (rethrown).
    QCoro::Task<T> value() const { return valueOf(m_state); }
    // Ends when the operation has ended, whatever its outcome; never throws.
    QCoro::Task<void> waitForEnd() const { return endOf(m_state); }

    friend bool operator==(const Operation &a, const Operation &b) { return a.m_state == b.m_state; }

private:
    struct Empty {};
    using Stored = std::conditional_t<std::is_void_v<T>, Empty, T>;
    struct State : detail::OperationSignal {
        std::optional<Stored> value;
    };

    static QCoro::Task<void> drive(std::shared_ptr<State> s, QCoro::Task<T> task)
    {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await task;
            } else {
                s->value.emplace(co_await task);
            }
        } catch (...) {
            s->error = std::current_exception();
        }
        s->finished = true;
        Q_EMIT s->done();
    }

    static QCoro::Task<void> endOf(std::shared_ptr<State> s)
    {
        if (!s || s->finished)
            co_return;
        co_await qCoro(static_cast<detail::OperationSignal *>(s.get()), &detail::OperationSignal::done);
    }

    static QCoro::Task<T> valueOf(std::shared_ptr<State> s)
    {
        if (!s)
            throw CancellationError();
        if (!s->finished)
            co_await qCoro(static_cast<detail::OperationSignal *>(s.get()), &detail::OperationSignal::done);
        if (s->error)
            std::rethrow_exception(s->error);
        // A copy for each waiter: QCoro's return_value(U&&) would move out of an lvalue.
        if constexpr (!std::is_void_v<T>)
            co_return Stored(*s->value);
    }

    std::shared_ptr<State> m_state;
    std::shared_ptr<CancellationSource> m_source;
};

} // namespace kovra
