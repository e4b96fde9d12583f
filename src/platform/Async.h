#pragma once

// The async layer: cancellation (Cancellation.h), clocks and sleeps (Clock.h), a
// one-shot result that callers await, and operations that several callers await.

#include "platform/Cancellation.h"
#include "platform/Clock.h"
#include "platform/Error.h"

#include <QObject>
#include <QPointer>

#include <qcoro/qcorosignal.h>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>

namespace kovra {

// Sleeps for the interval on the system clock; ends early with CancellationError
// when the token fires.
QCoro::Task<void> sleepFor(std::chrono::milliseconds interval, CancellationToken token = {});

// Waits until the token is cancelled (never ends for a token that cannot be cancelled
// unless the caller's frame is destroyed).
QCoro::Task<void> waitUntilCancelled(CancellationToken token);

namespace detail {
class OneShotSignal : public QObject {
    Q_OBJECT
public:
    bool done = false;
    std::exception_ptr error;
Q_SIGNALS:
    void finished();
};

// Waits for the signal's finished(), or until the bound passes on the clock. True
// when it finished. The signal object must outlive the wait (callers hold it).
QCoro::Task<bool> waitFinished(std::shared_ptr<OneShotSignal> signal, std::chrono::milliseconds bound, Clock *clock);
QCoro::Task<void> waitFinished(std::shared_ptr<OneShotSignal> signal);
} // namespace detail

// A result delivered once: the first resolve() or fail() wins, later ones are
// ignored. Any number of callers await it, each getting a copy of the value or the
// error. Copies share one result. Waiters hold the result themselves, so a producer
// that dies without resolving never leaves a dangling wait; producers that own a
// one-shot resolve it (usually with cancel()) from their destructor.
// Used on the GUI thread.
template<typename T = void>
class OneShot {
    struct Empty {};

public:
    using Stored = std::conditional_t<std::is_void_v<T>, Empty, T>;

    OneShot() : m_state(std::make_shared<State>()) {}

    bool isDone() const { return m_state->done; }
    bool hasError() const { return bool(m_state->error); }

    // The value once resolved without error.
    const std::optional<Stored> &peek() const { return m_state->value; }

    // True when this call delivered the result.
    template<typename U = T>
        requires(!std::is_void_v<U>)
    bool resolve(U value)
    {
        if (m_state->done)
            return false;
        m_state->value.emplace(std::move(value));
        return finish();
    }
    template<typename U = T>
        requires std::is_void_v<U>
    bool resolve()
    {
        if (m_state->done)
            return false;
        m_state->value.emplace();
        return finish();
    }
    bool fail(std::exception_ptr error)
    {
        if (m_state->done)
            return false;
        m_state->error = std::move(error);
        return finish();
    }
    template<typename E>
        requires std::is_base_of_v<std::exception, E>
    bool fail(E error)
    {
        return fail(std::make_exception_ptr(std::move(error)));
    }
    bool cancel() { return fail(CancellationError()); }

    // The value (a copy) or the error (rethrown), once delivered.
    QCoro::Task<T> wait() const { return waitOn(m_state); }
    // As wait(), but none when the bound passes on the clock first (the one-shot
    // stays pending for others).
    QCoro::Task<std::optional<Stored>> waitFor(std::chrono::milliseconds bound, Clock &clock) const
    {
        return waitBounded(m_state, bound, &clock);
    }
    // Ends once delivered, whatever the outcome; never throws.
    QCoro::Task<void> waitForEnd() const { return detail::waitFinished(m_state); }

    friend bool operator==(const OneShot &a, const OneShot &b) { return a.m_state == b.m_state; }

private:
    struct State : detail::OneShotSignal {
        std::optional<Stored> value;
    };

    bool finish()
    {
        auto keep = m_state; // a waiter resumed by the signal may drop its copy
        keep->done = true;
        Q_EMIT keep->finished();
        return true;
    }

    static Stored copyOut(const std::shared_ptr<State> &s)
    {
        if (s->error)
            std::rethrow_exception(s->error);
        return Stored(*s->value);
    }

    static QCoro::Task<T> waitOn(std::shared_ptr<State> s)
    {
        co_await detail::waitFinished(s);
        if constexpr (std::is_void_v<T>)
            copyOut(s);
        else
            co_return copyOut(s);
    }

    static QCoro::Task<std::optional<Stored>> waitBounded(std::shared_ptr<State> s, std::chrono::milliseconds bound,
                                                          Clock *clock)
    {
        const bool finished = co_await detail::waitFinished(s, bound, clock);
        if (!finished)
            co_return std::nullopt;
        co_return std::optional<Stored>(copyOut(s));
    }

    std::shared_ptr<State> m_state;
};

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
        op.m_result.emplace();
        op.m_source = std::make_shared<CancellationSource>();
        drive(*op.m_result, std::forward<Body>(body)(op.m_source->token()));
        return op;
    }

    bool isValid() const { return m_result.has_value(); }
    bool isFinished() const { return m_result && m_result->isDone(); }
    // Lets go of the operation (its waiters keep its result): invalid again.
    void reset()
    {
        m_result.reset();
        m_source.reset();
    }
    void cancel() const
    {
        if (m_source)
            m_source->cancel();
    }
    CancellationToken token() const { return m_source ? m_source->token() : CancellationToken(); }

    // The operation's result (copied) or its error (rethrown). An invalid operation
    // throws CancellationError.
    QCoro::Task<T> value() const
    {
        if (!m_result) {
            OneShot<T> none;
            none.cancel();
            return none.wait();
        }
        return m_result->wait();
    }
    // Ends when the operation has ended, whatever its outcome; never throws.
    QCoro::Task<void> waitForEnd() const
    {
        if (!m_result) {
            OneShot<void> none;
            none.resolve();
            return none.waitForEnd();
        }
        return m_result->waitForEnd();
    }

    friend bool operator==(const Operation &a, const Operation &b)
    {
        return a.m_result.has_value() == b.m_result.has_value() && (!a.m_result || *a.m_result == *b.m_result);
    }

private:
    static QCoro::Task<void> drive(OneShot<T> result, QCoro::Task<T> task)
    {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await task;
                result.resolve();
            } else {
                result.resolve(co_await task);
            }
        } catch (...) {
            result.fail(std::current_exception());
        }
    }

    std::optional<OneShot<T>> m_result;
    std::shared_ptr<CancellationSource> m_source;
};

} // namespace kovra
