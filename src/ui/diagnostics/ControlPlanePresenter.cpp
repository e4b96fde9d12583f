#include "ui/diagnostics/ControlPlanePresenter.h"

#include "platform/L10n.h"
#include "ui/diagnostics/DiagnosticsView.h"

namespace kovra::ui {

ControlPlanePresenter::ControlPlanePresenter(DiagnosticsView *view) : QObject(view), m_view(view)
{
    connect(view, &DiagnosticsView::tunnelConnectedChanged, this, &ControlPlanePresenter::shownChanged);
    connect(view, &DiagnosticsView::controlPlaneRunningChanged, this, &ControlPlanePresenter::runningChanged);
    connect(view, &DiagnosticsView::controlPlaneReportChanged, this, &ControlPlanePresenter::reportChanged);
}

QString ControlPlanePresenter::title() const
{
    return L10n::text("diag.controlPlane.title", u"Доступ к серверам Kovra");
}

QString ControlPlanePresenter::runningText() const
{
    return L10n::text("diag.controlPlane.running", u"Проверяем доступ к серверам…");
}

QString ControlPlanePresenter::rerunTitle() const
{
    return L10n::text("diag.controlPlane.rerun", u"Проверить ещё раз");
}

bool ControlPlanePresenter::shown() const
{
    return !m_view->tunnelConnected();
}

bool ControlPlanePresenter::running() const
{
    return m_view->controlPlaneRunning();
}

bool ControlPlanePresenter::hasReport() const
{
    return m_view->hasControlPlaneReport();
}

QString ControlPlanePresenter::verdictTitle() const
{
    const auto &report = m_view->controlPlaneReport();
    return report ? localizedTitle(report->verdict) : QString();
}

bool ControlPlanePresenter::reachable() const
{
    const auto &report = m_view->controlPlaneReport();
    return report && report->verdict == ControlPlaneVerdict::reachable;
}

QStringList ControlPlanePresenter::rows() const
{
    QStringList rows;
    if (const auto &report = m_view->controlPlaneReport()) {
        for (const ControlPlaneHostResult &result : report->results)
            rows << result.rowText();
    }
    return rows;
}

QString ControlPlanePresenter::plainText() const
{
    const auto &report = m_view->controlPlaneReport();
    return report ? report->plainText() : QString();
}

void ControlPlanePresenter::rerun()
{
    m_view->checkControlPlaneAgain();
}

} // namespace kovra::ui
