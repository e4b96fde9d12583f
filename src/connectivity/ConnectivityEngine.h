#pragma once

#include "connectivity/ConnectivityVerdict.h"
#include "platform/VPNStatus.h"

#include <QObject>

namespace kovra {

// The connectivity engine as the connect controls see it: it is told every tunnel
// status and publishes its judgement of the running tunnel. Lives on the GUI thread.
class ConnectivityEngine : public QObject {
    Q_OBJECT
    Q_PROPERTY(kovra::ConnectivityVerdict verdict READ verdict NOTIFY verdictChanged)
    Q_PROPERTY(bool isResolving READ isResolving NOTIFY isResolvingChanged)
public:
    using QObject::QObject;

    // The verdict of the current engine state; notifies only on a change.
    virtual ConnectivityVerdict verdict() const = 0;
    // True while the engine settles, switches or awaits its own reconnect; notifies
    // only on a change.
    virtual bool isResolving() const = 0;
    // A tunnel status (the provider's numbering; values above 5 are ignored). Called
    // synchronously on every real status change, and once with the status found at
    // start when no change came first.
    virtual void handleTunnelStatus(VPNStatus status) = 0;

Q_SIGNALS:
    void verdictChanged();
    void isResolvingChanged();
};

} // namespace kovra
