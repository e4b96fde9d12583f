#include "platform/Clock.h"

#include <QBasicTimer>
#include <QCoreApplication>
#include <QTimerEvent>

#include <qcoro/qcorosignal.h>

namespace kovra {
namespace {

// One call on a precise single-shot timer of the event loop.
class TimerCall final : public QObject {
public:
    TimerCall(std::chrono::milliseconds delay, std::function<void()> f) : m_f(std::move(f))
    {
        m_timer.start(int(std::max<qint64>(delay.count(), 0)), Qt::PreciseTimer, this);
    }

    void stop() { m_timer.stop(); }
    bool isFiring() const { return m_firing; }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() != m_timer.timerId()) {
            QObject::timerEvent(event);
            return;
        }
        m_timer.stop();
        m_firing = true;
        m_f(); // may drop the timer that owns this call, which then goes later
        m_firing = false;
    }

private:
    QBasicTimer m_timer;
    std::function<void()> m_f;
    bool m_firing = false;
};

class SystemTimer final : public ClockTimer {
public:
    SystemTimer(std::chrono::milliseconds delay, std::function<void()> f) : m_call(new TimerCall(delay, std::move(f)))
    {
    }
    ~SystemTimer() override
    {
        m_call->stop();
        // Dropped from inside its own call: the call is still running.
        if (m_call->isFiring())
            m_call->deleteLater();
        else
            delete m_call;
    }

private:
    TimerCall *m_call;
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
