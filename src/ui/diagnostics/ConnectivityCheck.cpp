#include "ui/diagnostics/ConnectivityCheck.h"

#include "diagnostics/TunnelStatusSource.h"
#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/Property.h"
#include "tunnel/TunnelController.h"
#include "ui/diagnostics/ConnectivityRace.h"
#include "ui/diagnostics/DiagnosticsView.h"
#include "ui/diagnostics/ProbeResultCard.h"

namespace kovra::ui {

ConnectivityCheck::ConnectivityCheck(DiagnosticsView *view, ConnectivityCheckOptions options)
    : QObject(view), m_view(view), m_options(std::move(options))
{
    connect(view, &DiagnosticsView::tunnelConnectedChanged, this, &ConnectivityCheck::refresh);
    refresh();
}

QString ConnectivityCheck::title() const
{
    return L10n::text("diag.connectivity.title", u"Проверка соединения");
}

QString ConnectivityCheck::runTitle() const
{
    return L10n::text("diag.connectivity.run", u"Проверить соединение");
}

QString ConnectivityCheck::copyTitle() const
{
    return m_view->copyTitle();
}

QString ConnectivityCheck::timeoutText() const
{
    const qint64 seconds = std::chrono::ceil<std::chrono::seconds>(m_options.watchdog).count();
    return L10n::format(L10n::text("diag.connectivity.timeout", u"Проверка не завершилась за %d с — попробуйте ещё раз."),
                        {seconds});
}

QString ConnectivityCheck::countersTitle() const
{
    return L10n::text("diag.connectivity.tech", u"Технические детали");
}

QString ConnectivityCheck::verdictText(ConnectivityClassification classification)
{
    // The same fixed sentences as the report's text.
    return explanation(classification);
}

QString ConnectivityCheck::layerLabel(ConnectivityLayer layer)
{
    switch (layer) {
    case ConnectivityLayer::tcp: return QStringLiteral("TCP");
    case ConnectivityLayer::dns: return QStringLiteral("DNS");
    case ConnectivityLayer::tls: return QStringLiteral("TLS");
    case ConnectivityLayer::http: return QStringLiteral("HTTP");
    case ConnectivityLayer::baseline: break;
    }
    return QStringLiteral("контроль");
}

QString ConnectivityCheck::verdict() const
{
    return m_report ? verdictText(m_report->classification) : QString();
}

bool ConnectivityCheck::verdictOk() const
{
    return m_report && m_report->classification == ConnectivityClassification::allOk;
}

QString ConnectivityCheck::formatExit(const ConnectivityReport &report)
{
    if (!report.exitIP && !report.exitLoc)
        return {};
    const QString absent = QStringLiteral("—");
    return L10n::format(L10n::text("diag.connectivity.exit", u"выход: %1$@ (%2$@)"),
                        {report.exitIP.value_or(absent), report.exitLoc.value_or(absent)});
}

QString ConnectivityCheck::formatHypothesis(const ConnectivityReport &report)
{
    if (!report.autoDetectSkippedBinds)
        return {};
    QString line = QStringLiteral("гипотеза A: skippedBinds=") + QString::number(*report.autoDetectSkippedBinds);
    if (report.autoDetectTotalCalls)
        line += QStringLiteral(" / total=") + QString::number(*report.autoDetectTotalCalls);
    return line;
}

QVariantMap ConnectivityCheck::stepFields(const ConnectivityStep &step)
{
    const QString title = L10n::format(L10n::text("[%@] %@", u"[%@] %@"), {layerLabel(step.layer), step.name});
    const QString latency = ProbeResultCard::latencyText(step.latencyMS);
    QStringList spoken{title, latency};
    if (!step.detail.isEmpty())
        spoken.append(step.detail);
    return {
        {QStringLiteral("id"), step.id.toString(QUuid::WithoutBraces)},
        {QStringLiteral("ok"), step.ok},
        {QStringLiteral("symbol"), step.ok ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("xmark.octagon.fill")},
        {QStringLiteral("title"), title},
        {QStringLiteral("detail"), step.detail},
        {QStringLiteral("latency"), latency},
        {QStringLiteral("accessibleName"), spoken.join(QStringLiteral(", "))},
    };
}

QString ConnectivityCheck::exitLine() const
{
    return m_report ? formatExit(*m_report) : QString();
}

QString ConnectivityCheck::hypothesisLine() const
{
    return m_report ? formatHypothesis(*m_report) : QString();
}

QVariantList ConnectivityCheck::steps() const
{
    QVariantList rows;
    if (m_report) {
        for (const ConnectivityStep &step : m_report->steps)
            rows.append(stepFields(step));
    }
    return rows;
}

void ConnectivityCheck::setCountersExpanded(bool value)
{
    updateProperty(m_countersExpanded, value, this, &ConnectivityCheck::countersExpandedChanged);
}

bool ConnectivityCheck::tunnelConnected() const
{
    const TunnelController *controller = m_view->tunnelController();
    return controller && controller->status() == VPNStatus::Connected;
}

void ConnectivityCheck::setRunning(bool value)
{
    if (updateProperty(m_running, value, this, &ConnectivityCheck::connectivityRunningChanged))
        refresh();
}

void ConnectivityCheck::setTimedOut(bool value)
{
    if (updateProperty(m_timedOut, value, this, &ConnectivityCheck::connectivityTimedOutChanged))
        refresh();
}

void ConnectivityCheck::refresh()
{
    const bool connected = tunnelConnected();
    updateProperty(m_runEnabled, connected && !m_running, this, &ConnectivityCheck::runEnabledChanged);
    QString hint;
    if (!m_report && !m_timedOut) {
        hint = connected ? L10n::text("diag.connectivity.idle",
                                      u"Нажмите «Проверить соединение», чтобы прогнать пробы через туннель.")
                         : L10n::text("diag.connectivity.needs_tunnel",
                                      u"Туннель не подключён — проверка доступна только при активном соединении.");
    }
    updateProperty(m_hint, hint, this, &ConnectivityCheck::hintChanged);
}

QCoro::Task<void> ConnectivityCheck::runConnectivityCheck()
{
    if (!tunnelConnected() || m_running)
        co_return;
    setRunning(true);
    setTimedOut(false);

    // Everything the run needs is taken now: it goes on when the sheet closes.
    const QPointer<ConnectivityCheck> self(this);
    ControllerStatusSource statusSource(m_view->tunnelController());
    const AppGroupContainer appGroup = m_view->appGroupContainer();
    const std::shared_ptr<Clock> clock = m_view->clock();
    const ConnectivityCheckOptions options = m_options;

    // Bounded by the tunnel layer's wait for a reply; a failure leaves no status report.
    const std::optional<TunnelStatusReport> status = co_await statusReportOrNone(&statusSource);
    std::optional<ConnectivityReport> report = co_await raceConnectivityProbe(status, appGroup, clock, options);
    if (!self)
        co_return;
    if (report) {
        m_report = std::move(report);
        Q_EMIT connectivityReportChanged();
    } else {
        setTimedOut(true);
    }
    setRunning(false);
}

QCoro::Task<void> ConnectivityCheck::detached(QPointer<ConnectivityCheck> self)
{
    try {
        if (self)
            co_await self->runConnectivityCheck();
    } catch (...) {
        static const Logger log(QStringLiteral("Diagnostics"));
        log.error(QStringLiteral("connectivity self-test task failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

void ConnectivityCheck::run()
{
    detached(QPointer<ConnectivityCheck>(this));
}

void ConnectivityCheck::copyConnectivityReport(const ConnectivityReport &report)
{
    m_view->copy(report.plainText());
}

void ConnectivityCheck::copyReport()
{
    if (m_report)
        copyConnectivityReport(*m_report);
}

} // namespace kovra::ui
