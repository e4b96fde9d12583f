#include "support/ManualClock.h"

#include <QCoreApplication>

namespace kovra::test {

class ManualClock::Timer final : public ClockTimer {
public:
    Timer(ManualClock *clock, quint64 id) : m_clock(clock), m_alive(clock->m_alive), m_id(id) {}
    ~Timer() override
    {
        if (auto alive = m_alive.lock(); alive && *alive)
            m_clock->cancel(m_id);
    }

private:
    ManualClock *m_clock;
    std::weak_ptr<bool> m_alive;
    quint64 m_id;
};

ManualClock::ManualClock(QDateTime start, QTimeZone zone) : m_wall(start.toUTC()), m_zone(zone) {}

ManualClock::~ManualClock()
{
    *m_alive = false;
}

std::unique_ptr<ClockTimer> ManualClock::startTimer(std::chrono::milliseconds delay, std::function<void()> f)
{
    const quint64 id = m_nextId++;
    const auto deadline = m_elapsed + std::max(delay, std::chrono::milliseconds(0));
    m_timers.emplace(std::make_pair(deadline, id), std::move(f));
    return std::make_unique<Timer>(this, id);
}

void ManualClock::cancel(quint64 id)
{
    for (auto it = m_timers.begin(); it != m_timers.end(); ++it) {
        if (it->first.second == id) {
            m_timers.erase(it);
            return;
        }
    }
}

void ManualClock::advance(std::chrono::milliseconds by)
{
    const auto target = m_elapsed + by;
    QCoreApplication::processEvents();
    while (!m_timers.empty() && m_timers.begin()->first.first <= target) {
        auto it = m_timers.begin();
        m_elapsed = std::max(m_elapsed, it->first.first);
        auto f = std::move(it->second);
        m_timers.erase(it);
        f();
        QCoreApplication::processEvents();
    }
    m_elapsed = target;
    QCoreApplication::processEvents();
}

} // namespace kovra::test
