#pragma once

#include "platform/Clock.h"
#include "platform/VPNStatus.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace kovra {

class TunnelController;

struct ConnectionHeroStateOptions {
    // A start that has not reached connected by then is reported as hung.
    std::chrono::milliseconds watchdogInterval{42000};
    // How long an optimistic status may stand without the tunnel catching up.
    std::chrono::milliseconds optimisticInterval{20000};
    // How long a start error is shown.
    std::chrono::milliseconds errorDismissInterval{6000};
    std::shared_ptr<Clock> clock = Clock::system();
};

// What the connect controls show around a press, ahead of the tunnel: an optimistic
// status (connecting or disconnecting) shown instead of the real one until the tunnel
// catches up, and a short-lived start error when a start fails, hangs or falls back.
//
// Three timers bound it: the optimistic status clears after `optimisticInterval`, a
// watched start that is not connected after `watchdogInterval` reports itself as hung,
// and a start error clears after `errorDismissInterval`. Each timer slot holds at most
// one pending timer: arming it again or cancelling it drops the old one, which then
// never fires, and none fires once the state is gone. Lives on the GUI thread.
class ConnectionHeroState : public QObject {
    Q_OBJECT
    // The status to show instead of the real one, as kovra::vpn::Status; null when none.
    Q_PROPERTY(QVariant optimisticStatus READ optimisticStatusValue NOTIFY optimisticStatusChanged)
    Q_PROPERTY(bool hasOptimisticStatus READ hasOptimisticStatus NOTIFY optimisticStatusChanged)
    // The start error's text; empty when none.
    Q_PROPERTY(QString startError READ startErrorText NOTIFY startErrorChanged)
    Q_PROPERTY(bool hasStartError READ hasStartError NOTIFY startErrorChanged)
public:
    using Options = ConnectionHeroStateOptions;
    using StatusReader = std::function<VPNStatus()>;
    using ErrorCallback = std::function<void(std::exception_ptr)>;

    // `currentStatus` reads the real tunnel status.
    explicit ConnectionHeroState(StatusReader currentStatus, Options options = {}, QObject *parent = nullptr);
    ~ConnectionHeroState() override;

    // Both notify only on a real change.
    const std::optional<VPNStatus> &optimisticStatus() const { return m_optimisticStatus; }
    const std::optional<QString> &startError() const { return m_startError; }
    QVariant optimisticStatusValue() const;
    bool hasOptimisticStatus() const { return m_optimisticStatus.has_value(); }
    QString startErrorText() const { return m_startError.value_or(QString()); }
    bool hasStartError() const { return m_startError.has_value(); }

    VPNStatus currentStatus() const { return m_currentStatus(); }

    // Shows `status` ahead of the tunnel for at most the optimistic interval; drops a
    // start error. Connecting also arms the watchdog, any other status disarms it.
    void setOptimistic(VPNStatus status);
    void clearOptimistic();
    // (Re)starts the watchdog of a start, also one begun elsewhere.
    void armWatchdog();
    // Shows `text` for the error-display interval (again in full when shown anew).
    void showStartError(const QString &text);

    // Shows connecting and starts the tunnel for `subscriptionURL`, without waiting. A
    // failed start drops the optimistic status and the watchdog and shows its text; a
    // start that was cancelled (stopped or superseded) shows none. `onError`, when
    // given, gets every failure, also when the state is gone by then; it must not throw.
    void runStart(TunnelController *tunnel, const QString &subscriptionURL, ErrorCallback onError = {});

    // Every real status change of the tunnel.
    void statusChanged(VPNStatus oldStatus, VPNStatus newStatus);
    // Drops the optimistic status, the start error and every timer.
    void reset();

    // The user text for a failed start.
    static QString startErrorMessage(const std::exception_ptr &error);

Q_SIGNALS:
    void optimisticStatusChanged();
    void startErrorChanged();

private:
    static QCoro::Task<void> startTunnel(QPointer<ConnectionHeroState> self, QPointer<TunnelController> tunnel,
                                         QString subscriptionURL, ErrorCallback onError);
    void startFailed(const std::exception_ptr &error);
    void setOptimisticStatus(std::optional<VPNStatus> status);
    void setStartError(std::optional<QString> text);
    void clearStartError();

    std::optional<VPNStatus> m_optimisticStatus;
    std::optional<QString> m_startError;
    StatusReader m_currentStatus;
    Options m_options;
    std::unique_ptr<ClockTimer> m_optimisticTimeout;
    std::unique_ptr<ClockTimer> m_startErrorDismiss;
    std::unique_ptr<ClockTimer> m_startWatchdog;
};

} // namespace kovra
