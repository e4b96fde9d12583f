#pragma once

#include "account/SubscriptionOut.h"
#include "platform/Async.h"
#include "platform/Clock.h"
#include "platform/Log.h"

#include <QObject>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kovra {

class SubscriptionStore;

// The wait for a payment to show in the subscription. The payment provider tells the
// client nothing, so after the user has opened an invoice the state polls the
// subscription store: before each poll it waits one interval, then refreshes the store
// and compares its subscription with the one that stood when the wait began
// (isConfirmed()). `maxPolls` polls without a confirmation time the wait out.
// A run that was superseded (start(), retry(), cancel()) or whose state is gone ends
// without changing anything. Lives on the GUI thread.
class PaymentWaitingState : public QObject {
    Q_OBJECT
    Q_PROPERTY(kovra::PaymentWaitingState::Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(int attempt READ attempt NOTIFY attemptChanged)
public:
    enum class Phase { idle, waiting, confirmed, timedOut };
    Q_ENUM(Phase)

    using Refresh = std::function<QCoro::Task<void>()>;
    using Current = std::function<std::optional<SubscriptionOut>()>;

    // Polls `store` (refresh() and latest()); the payment sheet passes 3 s and 40.
    PaymentWaitingState(SubscriptionStore *store, std::chrono::milliseconds pollInterval, int maxPolls,
                        std::shared_ptr<Clock> clock = Clock::system(), QObject *parent = nullptr);
    // Over any refresh and read of the subscription.
    PaymentWaitingState(Refresh refreshSubscription, Current currentSubscription, std::chrono::milliseconds pollInterval,
                        int maxPolls, std::shared_ptr<Clock> clock = Clock::system(), QObject *parent = nullptr);
    ~PaymentWaitingState() override;

    Phase phase() const { return m_phase; }
    // Polls made in the current run.
    int attempt() const { return m_attempt; }
    // The subscription when the wait began.
    const std::optional<SubscriptionOut> &baseline() const { return m_baseline; }

    // Takes the store's subscription as the baseline and starts polling (the first poll
    // after one interval), ending a run in progress.
    void start();
    // In `waiting` or `timedOut` only: polls again with the same baseline, the first
    // poll at once.
    void retry();
    // Stops polling, drops the baseline and goes back to `idle`.
    void cancel();

    // Whether `current` shows a payment against `baseline`, at `now`: an active
    // subscription where there was none, or an inactive one, or whose expiry was lifted
    // or moved later, or whose traffic limit grew (no limit counts as more than any
    // limit).
    static bool isConfirmed(const std::optional<SubscriptionOut> &current, const std::optional<SubscriptionOut> &baseline,
                            const QDateTime &now);

Q_SIGNALS:
    void phaseChanged();
    void attemptChanged();

private:
    void launch(bool pollAtOnce);
    static QCoro::Task<void> run(QPointer<PaymentWaitingState> self, quint64 generation, bool pollAtOnce,
                                 CancellationToken token);
    void setPhase(Phase phase);
    void setAttempt(int attempt);

    Phase m_phase = Phase::idle;
    int m_attempt = 0;
    Refresh m_refresh;
    Current m_current;
    std::chrono::milliseconds m_pollInterval;
    int m_maxPolls;
    std::shared_ptr<Clock> m_clock;
    Logger m_log{QStringLiteral("PaymentWaiting")};
    std::optional<SubscriptionOut> m_baseline;
    std::optional<Operation<void>> m_pollTask;
    quint64 m_pollGeneration = 0;
};

} // namespace kovra
