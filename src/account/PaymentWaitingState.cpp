#include "account/PaymentWaitingState.h"

#include "account/SubscriptionStore.h"
#include "platform/Property.h"

#include <QPointer>

namespace kovra {
namespace {

// Whether the traffic limit grew; a limit below 1 is no limit, more than any limit.
bool limitGrew(const SubscriptionOut &current, const SubscriptionOut &baseline)
{
    if (!current.hasDataLimit())
        return baseline.hasDataLimit();
    return baseline.hasDataLimit() && current.dataLimitBytes > baseline.dataLimitBytes;
}

} // namespace

PaymentWaitingState::PaymentWaitingState(SubscriptionStore *store, std::chrono::milliseconds pollInterval, int maxPolls,
                                         std::shared_ptr<Clock> clock, QObject *parent)
    : PaymentWaitingState(
          [store = QPointer<SubscriptionStore>(store)]() -> QCoro::Task<void> {
              if (store)
                  return store->refresh();
              return []() -> QCoro::Task<void> { co_return; }();
          },
          [store = QPointer<SubscriptionStore>(store)] {
              return store ? store->latest() : std::optional<SubscriptionOut>();
          },
          pollInterval, maxPolls, std::move(clock), parent)
{
}

PaymentWaitingState::PaymentWaitingState(Refresh refreshSubscription, Current currentSubscription,
                                         std::chrono::milliseconds pollInterval, int maxPolls,
                                         std::shared_ptr<Clock> clock, QObject *parent)
    : QObject(parent),
      m_refresh(std::move(refreshSubscription)),
      m_current(std::move(currentSubscription)),
      m_pollInterval(pollInterval),
      m_maxPolls(maxPolls),
      m_clock(std::move(clock))
{
}

PaymentWaitingState::~PaymentWaitingState()
{
    if (m_pollTask)
        m_pollTask->cancel();
}

void PaymentWaitingState::setPhase(Phase phase)
{
    updateProperty(m_phase, phase, this, &PaymentWaitingState::phaseChanged);
}

void PaymentWaitingState::setAttempt(int attempt)
{
    updateProperty(m_attempt, attempt, this, &PaymentWaitingState::attemptChanged);
}

void PaymentWaitingState::start()
{
    m_baseline = m_current();
    setAttempt(0);
    setPhase(Phase::waiting);
    launch(false);
}

void PaymentWaitingState::retry()
{
    if (m_phase != Phase::timedOut && m_phase != Phase::waiting)
        return;
    setAttempt(0);
    setPhase(Phase::waiting);
    launch(true);
}

void PaymentWaitingState::cancel()
{
    ++m_pollGeneration;
    if (m_pollTask)
        m_pollTask->cancel();
    m_pollTask.reset();
    setPhase(Phase::idle);
    setAttempt(0);
    m_baseline.reset();
}

void PaymentWaitingState::launch(bool pollAtOnce)
{
    if (m_pollTask)
        m_pollTask->cancel();
    const quint64 generation = ++m_pollGeneration;
    QPointer<PaymentWaitingState> self(this);
    m_pollTask = Operation<void>::run(
        [self, generation, pollAtOnce](CancellationToken token) { return run(self, generation, pollAtOnce, token); });
    // A run can end before run() returns (no polls, or a refresh that returned at once).
    if (m_pollTask->isFinished())
        m_pollTask.reset();
}

QCoro::Task<void> PaymentWaitingState::run(QPointer<PaymentWaitingState> self, quint64 generation, bool pollAtOnce,
                                           CancellationToken token)
{
    const std::shared_ptr<Clock> clock = self->m_clock;
    const std::chrono::milliseconds interval = self->m_pollInterval;
    const int maxPolls = self->m_maxPolls;
    for (int poll = 0; poll < maxPolls; ++poll) {
        if (poll > 0 || !pollAtOnce) {
            try {
                co_await clock->sleep(interval, token);
            } catch (...) {
                co_return; // cancelled
            }
        }
        if (!self || self->m_pollGeneration != generation)
            co_return;
        self->setAttempt(self->m_attempt + 1);
        const Refresh refresh = self->m_refresh;
        try {
            co_await refresh();
        } catch (...) {
            // The store records its own failures; the poll compares what it holds.
        }
        if (!self || self->m_pollGeneration != generation)
            co_return;
        if (isConfirmed(self->m_current(), self->m_baseline, clock->now())) {
            self->m_log.info(QStringLiteral("payment confirmed after %1 polls").arg(self->m_attempt));
            self->setPhase(Phase::confirmed);
            self->m_pollTask.reset();
            co_return;
        }
    }
    if (!self || self->m_pollGeneration != generation)
        co_return;
    self->m_log.info(QStringLiteral("payment not confirmed after %1 polls").arg(maxPolls));
    self->setPhase(Phase::timedOut);
    self->m_pollTask.reset();
}

bool PaymentWaitingState::isConfirmed(const std::optional<SubscriptionOut> &current,
                                      const std::optional<SubscriptionOut> &baseline, const QDateTime &now)
{
    if (!current || !current->isActive(now))
        return false;
    if (!baseline || !baseline->isActive(now))
        return true;
    if (baseline->expireUnix && !current->expireUnix)
        return true; // the expiry was lifted
    if (baseline->expireUnix && current->expireUnix && *current->expireUnix > *baseline->expireUnix)
        return true;
    return limitGrew(*current, *baseline);
}

} // namespace kovra
