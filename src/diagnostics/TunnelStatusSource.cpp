#include "diagnostics/TunnelStatusSource.h"

#include "tunnel/TunnelController.h"

namespace kovra {

QCoro::Task<TunnelStatusReport> ControllerStatusSource::queryStatus()
{
    const QPointer<TunnelController> controller = m_controller;
    if (!controller)
        throw TunnelError(TunnelError::Kind::managerUnavailable);
    const TunnelStatusReport report = co_await controller->queryStatus();
    co_return report;
}

QCoro::Task<std::optional<TunnelStatusReport>> statusReportOrNone(TunnelStatusSource *source)
{
    if (!source)
        co_return std::nullopt;
    std::optional<TunnelStatusReport> report;
    try {
        const TunnelStatusReport answer = co_await source->queryStatus();
        report = answer;
    } catch (...) {
        report.reset();
    }
    co_return report;
}

} // namespace kovra
