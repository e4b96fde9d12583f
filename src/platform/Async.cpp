#include "platform/Async.h"

#include <QTimer>

namespace kovra {

namespace detail {
void CancellationState::cancel()
{
    if (cancelled)
        return;
    cancelled = true;
    Q_EMIT triggered();
}

namespace {
class Waker : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void wake();
};
} // namespace
} // namespace detail

void CancellationToken::throwIfCancelled() const
{
    if (isCancelled())
        throw CancellationError();
}

QMetaObject::Connection CancellationToken::onCancel(QObject *context, std::function<void()> f) const
{
    if (!m_state)
        return {};
    if (m_state->cancelled) {
        QMetaObject::invokeMethod(context, std::move(f), Qt::QueuedConnection);
        return {};
    }
    return QObject::connect(m_state.get(), &detail::CancellationState::triggered, context, std::move(f),
                            Qt::QueuedConnection);
}

CancellationSource::CancellationSource() : m_state(std::make_shared<detail::CancellationState>()) {}

CancellationSource CancellationSource::linkedTo(const CancellationToken &parent)
{
    CancellationSource child;
    if (auto *p = parent.notifier()) {
        if (p->cancelled) {
            child.m_state->cancel();
        } else {
            std::weak_ptr<detail::CancellationState> weak = child.m_state;
            child.m_link = std::shared_ptr<QMetaObject::Connection>(
                new QMetaObject::Connection(QObject::connect(p, &detail::CancellationState::triggered, [weak] {
                    if (auto s = weak.lock())
                        s->cancel();
                })),
                [](QMetaObject::Connection *c) {
                    QObject::disconnect(*c);
                    delete c;
                });
        }
    }
    return child;
}

void CancellationSource::cancel()
{
    m_state->cancel();
}

QCoro::Task<void> sleepFor(std::chrono::milliseconds interval, CancellationToken token)
{
    token.throwIfCancelled();
    detail::Waker waker;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &waker, &detail::Waker::wake);
    if (auto *n = token.notifier())
        QObject::connect(n, &detail::CancellationState::triggered, &waker, &detail::Waker::wake,
                         Qt::QueuedConnection);
    timer.setTimerType(Qt::PreciseTimer);
    timer.start(interval);
    co_await qCoro(&waker, &detail::Waker::wake);
    token.throwIfCancelled();
}

namespace detail {
QCoro::Task<void> waitFinished(std::shared_ptr<OneShotSignal> signal)
{
    if (!signal->done)
        co_await qCoro(signal.get(), &OneShotSignal::finished);
}

QCoro::Task<bool> waitFinished(std::shared_ptr<OneShotSignal> signal, std::chrono::milliseconds bound, Clock *clock)
{
    if (signal->done)
        co_return true;
    Waker waker;
    QPointer<Waker> weak(&waker);
    QObject::connect(signal.get(), &OneShotSignal::finished, &waker, &Waker::wake);
    auto timer = clock->startTimer(bound, [weak] {
        if (weak)
            Q_EMIT weak->wake();
    });
    co_await qCoro(&waker, &Waker::wake);
    co_return signal->done;
}
} // namespace detail

QCoro::Task<void> waitUntilCancelled(CancellationToken token)
{
    if (token.isCancelled())
        co_return;
    auto *n = token.notifier();
    if (!n) {
        detail::Waker never;
        co_await qCoro(&never, &detail::Waker::wake);
        co_return;
    }
    co_await qCoro(n, &detail::CancellationState::triggered);
}

} // namespace kovra

#include "Async.moc"
