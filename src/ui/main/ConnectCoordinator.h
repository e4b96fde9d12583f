#pragma once

#include "ui/main/ConnectionHeroState.h"
#include "platform/Clock.h"
#include "platform/VPNStatus.h"
#include "ui/design/DesignTypes.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

namespace kovra {

class AuthState;
class ConnectivityEngine;
class SubscriptionStore;
class TunnelController;

struct ConnectCoordinatorOptions {
    // The optimistic state's timers and clock; the clock also dates the subscription.
    ConnectionHeroStateOptions hero;
};

// The one model behind every connect control. It merges the real tunnel status, the
// optimistic state and the connectivity engine's judgement into what the controls
// show, decides what a press does, and routes every tunnel status change: first to
// the engine, then to the optimistic state.
//
// The published values are pure reads of their inputs (the tunnel status, the
// optimistic status, the engine's verdict and resolving flag, the subscription);
// each notifies only when its own value changes. Installs itself as the tunnel
// controller's status-change handler (holding itself weakly) and resets the
// optimistic state on the next turn of the event loop after every change of the
// session status. An input that is gone reads as absent (no tunnel reads invalid).
// Lives on the GUI thread.
class ConnectCoordinator : public QObject {
    Q_OBJECT
    Q_PROPERTY(kovra::ConnectionHeroState *hero READ hero CONSTANT)
    Q_PROPERTY(kovra::vpn::Status effectiveStatus READ effectiveStatus NOTIFY effectiveStatusChanged)
    Q_PROPERTY(bool isToggleEnabled READ isToggleEnabled NOTIFY isToggleEnabledChanged)
    Q_PROPERTY(bool canChangeConnection READ canChangeConnection NOTIFY canChangeConnectionChanged)
    Q_PROPERTY(kovra::ui::StatusDotState::Value statusDotState READ statusDotState NOTIFY statusDotStateChanged)
    Q_PROPERTY(QString statusText READ statusText NOTIFY statusTextChanged)
    Q_PROPERTY(kovra::ui::ConnectButtonVisual::Value buttonVisual READ buttonVisual NOTIFY buttonVisualChanged)
public:
    using Options = ConnectCoordinatorOptions;

    ConnectCoordinator(TunnelController *tunnel, ConnectivityEngine *connectivity, SubscriptionStore *subscriptions,
                          AuthState *authState, Options options = {}, QObject *parent = nullptr);
    ~ConnectCoordinator() override;

    ConnectionHeroState *hero() const { return m_hero; }

    // The optimistic status when one is shown, else the tunnel's.
    VPNStatus effectiveStatus() const;
    // Whether a press does something: always while the tunnel is up or coming up, never
    // while it goes down, otherwise only with an active subscription.
    bool isToggleEnabled() const;
    // Whether the connection may be changed: no optimistic status and the tunnel at
    // rest (invalid, disconnected or connected).
    bool canChangeConnection() const;
    ui::StatusDotState::Value statusDotState() const;
    QString statusText() const;
    ui::ConnectButtonVisual::Value buttonVisual() const;

    // The action of every connect control: connects (with an active subscription) when
    // the tunnel is down, stops it when it is up or coming up, else does nothing.
    Q_INVOKABLE void toggle();
    // Tells the engine the tunnel's current status unless it has been told one already.
    Q_INVOKABLE void seedConnectivityIfNeeded();
    bool didSeedConnectivity() const { return m_didSeedConnectivity; }

Q_SIGNALS:
    void effectiveStatusChanged();
    void isToggleEnabledChanged();
    void canChangeConnectionChanged();
    void statusDotStateChanged();
    void statusTextChanged();
    void buttonVisualChanged();

private:
    struct Presentation;
    Presentation presentation() const;
    VPNStatus realStatus() const;
    void routeStatus(VPNStatus oldStatus, VPNStatus newStatus);
    void recompute();
    void watchSubscriptionExpiry();
    static QCoro::Task<void> stopTunnel(QPointer<TunnelController> tunnel);

    QPointer<TunnelController> m_tunnel;
    QPointer<ConnectivityEngine> m_connectivity;
    QPointer<SubscriptionStore> m_subscriptions;
    QPointer<AuthState> m_authState;
    std::shared_ptr<Clock> m_clock;
    ConnectionHeroState *m_hero;
    bool m_didSeedConnectivity = false;
    // Re-reads the subscription when it expires.
    std::unique_ptr<ClockTimer> m_expiryTimer;

    // The values last published, to notify only on a change.
    VPNStatus m_effectiveStatus = VPNStatus::Invalid;
    bool m_isToggleEnabled = false;
    bool m_canChangeConnection = false;
    ui::StatusDotState::Value m_statusDotState = ui::StatusDotState::Inactive;
    QString m_statusText;
    ui::ConnectButtonVisual::Value m_buttonVisual = ui::ConnectButtonVisual::Idle;
};

} // namespace kovra
