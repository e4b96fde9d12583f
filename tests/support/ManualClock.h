#pragma once

#include "platform/Clock.h"

#include <QDateTime>
#include <QTimeZone>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace kovra::test {

// A clock that moves only when the test says so. Timers fire inside advance(), in
// deadline order (equal deadlines in the order they were started), each with the
// clock set to its deadline; a timer started by a firing one fires in the same
// advance() when its deadline falls within it. Queued events are processed after
// each timer, so coroutines resumed through queued signals run before the next one.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2025, 3, 5), QTime(12, 0), Qt::UTC),
                         QTimeZone zone = QTimeZone::utc());
    ~ManualClock() override;

    QDateTime now() const override { return m_wall.addMSecs(elapsedMs()); }
    MonotonicInstant monotonicNow() const override { return MonotonicInstant(m_elapsed); }
    QTimeZone timeZone() const override { return m_zone; }
    std::unique_ptr<ClockTimer> startTimer(std::chrono::milliseconds delay, std::function<void()> f) override;

    // Moves time forward, firing due timers on the way.
    void advance(std::chrono::milliseconds by);

    // Timers started and not yet fired or cancelled.
    int pendingTimers() const { return int(m_timers.size()); }

private:
    class Timer;
    qint64 elapsedMs() const { return std::chrono::duration_cast<std::chrono::milliseconds>(m_elapsed).count(); }
    void cancel(quint64 id);

    QDateTime m_wall;
    QTimeZone m_zone;
    std::chrono::nanoseconds m_elapsed{0};
    quint64 m_nextId = 1;
    // (deadline, sequence) -> callback
    std::map<std::pair<std::chrono::nanoseconds, quint64>, std::function<void()>> m_timers;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace kovra::test
