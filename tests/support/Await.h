#pragma once

#include <QTest>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <type_traits>

namespace kovra::test {

struct AwaitTimeout : std::runtime_error {
    AwaitTimeout() : std::runtime_error("task did not finish in time") {}
};

namespace detail {
template<typename T>
struct AwaitBox {
    using Stored = std::conditional_t<std::is_void_v<T>, bool, T>;
    std::optional<Stored> value;
    std::exception_ptr error;
    bool done = false;
};

template<typename T>
QCoro::Task<void> driveInto(std::shared_ptr<AwaitBox<T>> box, QCoro::Task<T> task)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await task;
        } else {
            box->value.emplace(co_await task);
        }
    } catch (...) {
        box->error = std::current_exception();
    }
    box->done = true;
}
} // namespace detail

// Runs the event loop until the task ends; returns its value or rethrows its error.
// Throws AwaitTimeout when it has not ended within the time-out. Tests only.
template<typename T>
T await(QCoro::Task<T> task, std::chrono::milliseconds timeout = std::chrono::seconds(20))
{
    auto box = std::make_shared<detail::AwaitBox<T>>();
    detail::driveInto<T>(box, std::move(task));
    if (!box->done && !QTest::qWaitFor([&] { return box->done; }, int(timeout.count())))
        throw AwaitTimeout();
    if (box->error)
        std::rethrow_exception(box->error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*box->value);
}

// Starts a task and keeps its outcome for later inspection (for tasks that end
// while the test does other things).
template<typename T>
class Pending {
public:
    explicit Pending(QCoro::Task<T> task) : m_box(std::make_shared<detail::AwaitBox<T>>())
    {
        detail::driveInto<T>(m_box, std::move(task));
    }
    bool isDone() const { return m_box->done; }
    bool waitDone(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const
    {
        return m_box->done || QTest::qWaitFor([&] { return m_box->done; }, int(timeout.count()));
    }
    std::exception_ptr error() const { return m_box->error; }
    T result() const
    {
        if (!waitDone())
            throw AwaitTimeout();
        if (m_box->error)
            std::rethrow_exception(m_box->error);
        if constexpr (!std::is_void_v<T>)
            return *m_box->value;
    }

private:
    std::shared_ptr<detail::AwaitBox<T>> m_box;
};

} // namespace kovra::test
