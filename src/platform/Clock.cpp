#include "platform/Clock.h"

#include <QCoreApplication>
#include <QTimer>

#include <qcoro/qcorosignal.h>

namespace kovra {
namespace {

class SystemTimer final : public ClockTimer {
public:
    SystemTimer(std::chrono::milliseconds delay, std::function<void()> f)
        : m_timer(new QTimer), m_firing(std::make_shared<bool>(false))
    {
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, m_timer, [firing = m_firing, f = std::move(f)] {
            // The call may destroy this timer; only locals are used after it.
            const auto flag = firing;
            const auto call = f;
            *flag = true;
            call();
            *flag = false;
        });
        m_timer->start(std::max(delay, std::chrono::milliseconds(0)));
    }
    ~SystemTimer() override
    {
        m_timer->stop();
        QObject::disconnect(m_timer, nullptr, nullptr, nullptr);
        // Destroyed from inside its own call: the QTimer is still emitting.
        if (*m_firing)
            m_timer->deleteLater();
        else
            delete m_timer;
    }

private:
    QTimer *m_timer;
    std::shared_ptr<bool> m_firing;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTimeUtc(); }
    MonotonicInstant monotonicNow() const override { return std::chrono::steady_clock::now(); }
    std::unique_ptr<ClockTimer> startTimer(std::chrono::milliseconds delay, std::function<void()> f) override
    {
        return std::make_unique<SystemTimer>(delay, std::move(f));
    }
};

class Waker : public QObject {
    Q_OBJECT
Q_SIGNALS:
    void wake();
};

} // namespace

std::shared_ptr<Clock> Clock::system()
{
    static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

QCoro::Task<void> Clock::sleep(std::chrono::milliseconds interval, CancellationToken token)
{
    token.throwIfCancelled();
    Waker waker;
    QPointer<Waker> weak(&waker);
    auto timer = startTimer(interval, [weak] {
        if (weak)
            Q_EMIT weak->wake();
    });
    if (auto *n = token.notifier())
        QObject::connect(n, &detail::CancellationState::triggered, &waker, &Waker::wake, Qt::QueuedConnection);
    co_await qCoro(&waker, &Waker::wake);
    timer.reset();
    token.throwIfCancelled();
}

void ClockTicker::start(Clock &clock, std::chrono::milliseconds interval, std::function<void()> f)
{
    m_clock = &clock;
    m_interval = interval;
    m_f = std::move(f);
    arm();
}

void ClockTicker::arm()
{
    m_timer = m_clock->startTimer(m_interval, [this] {
        auto f = m_f; // the callback may stop or restart the ticker
        arm();
        if (f)
            f();
    });
}

} // namespace kovra

#include "Clock.moc"
