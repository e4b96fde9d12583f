#pragma once

#include "platform/Cancellation.h"

#include <QDateTime>
#include <QTimeZone>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>

namespace kovra {

// A point on the monotonic time line (never jumps, unrelated to the wall clock).
using MonotonicInstant = std::chrono::steady_clock::time_point;

// A pending call of a Clock. Destroying it cancels the call if it has not run.
class ClockTimer {
public:
    virtual ~ClockTimer() = default;
};

// Where product code gets its time from: the wall clock, the monotonic clock, the
// time zone dates are shown in, and one-shot timers. The system clock is the
// default everywhere; tests hand in a manual clock (tests/support/ManualClock.h).
// Used on the GUI thread.
class Clock {
public:
    virtual ~Clock() = default;

    // The wall-clock time, in UTC.
    virtual QDateTime now() const = 0;
    virtual MonotonicInstant monotonicNow() const = 0;
    // The zone in which dates are shown to the user (the system's by default).
    virtual QTimeZone timeZone() const { return QTimeZone::systemTimeZone(); }

    // Calls `f` once after `delay` on the GUI thread (a precise timer), unless the
    // returned timer is destroyed first. A delay of 0 or less runs on the next turn of
    // the event loop, never inside this call.
    [[nodiscard]] virtual std::unique_ptr<ClockTimer> startTimer(std::chrono::milliseconds delay,
                                                                 std::function<void()> f) = 0;

    // Sleeps for the interval; ends early with CancellationError when the token fires.
    QCoro::Task<void> sleep(std::chrono::milliseconds interval, CancellationToken token = {});

    // Whole seconds since 1970 of now().
    qint64 nowSeconds() const { return now().toSecsSinceEpoch(); }

    // The process-wide system clock.
    static std::shared_ptr<Clock> system();
};

// Repeats a callback on a clock until stopped or destroyed; each run is scheduled
// after the previous one ran (no catch-up bursts). Inactive until start().
class ClockTicker {
public:
    ClockTicker() = default;
    ~ClockTicker() { stop(); }
    ClockTicker(const ClockTicker &) = delete;
    ClockTicker &operator=(const ClockTicker &) = delete;

    void start(Clock &clock, std::chrono::milliseconds interval, std::function<void()> f);
    void stop() { m_timer.reset(); m_f = nullptr; }
    bool isActive() const { return bool(m_timer); }

private:
    void arm();
    Clock *m_clock = nullptr;
    std::chrono::milliseconds m_interval{0};
    std::function<void()> m_f;
    std::unique_ptr<ClockTimer> m_timer;
};

} // namespace kovra
