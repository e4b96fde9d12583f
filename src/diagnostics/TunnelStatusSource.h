#pragma once

#include "tunnel/TunnelReplies.h"

#include <QPointer>

#include <qcoro/qcorotask.h>

#include <optional>

namespace kovra {

class TunnelController;

// Where diagnostics get the tunnel's own status report from.
class TunnelStatusSource {
public:
    virtual ~TunnelStatusSource() = default;
    // The provider's status report; throws when there is none to be had.
    virtual QCoro::Task<TunnelStatusReport> queryStatus() = 0;
};

// The tunnel controller's status query. A controller that is gone counts as having no
// tunnel manager.
class ControllerStatusSource final : public TunnelStatusSource {
public:
    explicit ControllerStatusSource(TunnelController *controller) : m_controller(controller) {}
    QCoro::Task<TunnelStatusReport> queryStatus() override;

private:
    QPointer<TunnelController> m_controller;
};

// The source's report, or none when there is no source or its query fails (the failure
// is dropped). Never throws. The source must outlive the query.
QCoro::Task<std::optional<TunnelStatusReport>> statusReportOrNone(TunnelStatusSource *source);

} // namespace kovra
