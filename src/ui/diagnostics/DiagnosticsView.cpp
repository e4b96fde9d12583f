#include "ui/diagnostics/DiagnosticsView.h"

#include "connectivity/TelemetrySource.h"
#include "core/AppGroupStore.h"
#include "diagnostics/TunnelStatusSource.h"
#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/Property.h"
#include "platform/gui/Clipboard.h"
#include "tunnel/TunnelController.h"
#include "ui/diagnostics/ProbeResultCard.h"

#include <QtConcurrent/QtConcurrentRun>

#include <qcoro/qcorofuture.h>

namespace kovra::ui {
namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("Diagnostics"));
    return logger;
}

// A loader that throws counts as one that found nothing.
template<typename Loader>
auto loadQuietly(const Loader &loader, const AppGroupContainer &container) -> decltype(loader(container))
{
    try {
        return loader(container);
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace

struct DiagnosticsView::Snapshots {
    std::optional<LastStartupFailureDiagnostics::Snapshot> startupFailure;
    std::optional<LastStartupDiagnostics::Snapshot> lastStartup;
    std::optional<FetchedConfigDiagnostics::Snapshot> fetchedConfig;
};

const QString &DiagnosticsView::appGroupIdentifier()
{
    return AppGroupStore::kSuiteName;
}

DiagnosticsView::DiagnosticsView(TunnelController *tunnelController, TelemetrySource *telemetry, Options options,
                                 QObject *parent)
    : QObject(parent), m_options(std::move(options).withDefaults()), m_tunnelController(tunnelController),
      m_telemetry(telemetry), m_runner(new DiagnosticsRunner(m_options.runner, this))
{
    m_controlPlane = new ControlPlanePresenter(this);
    m_triage = new TriagePresenter(this);
    connect(m_runner, &DiagnosticsRunner::isRunningChanged, this, &DiagnosticsView::runnerStateChanged);
    connect(m_runner, &DiagnosticsRunner::lastReportChanged, this, &DiagnosticsView::runnerStateChanged);
    connect(m_runner, &DiagnosticsRunner::lastReportChanged, this, &DiagnosticsView::reportChanged);
    if (tunnelController) {
        connect(tunnelController, &TunnelController::statusChanged, this, &DiagnosticsView::updateTunnelConnected);
        connect(tunnelController, &QObject::destroyed, this, &DiagnosticsView::updateTunnelConnected);
    }
    updateTunnelConnected();
    m_connectivityCheck = new ConnectivityCheck(this, m_options.connectivity);
    m_statusSection = new StatusSection(this);
    m_detailCards = new DetailCards(this);
}

DiagnosticsView::~DiagnosticsView()
{
    endPresentation();
}

QString DiagnosticsView::title() const
{
    return L10n::text("diag.title", u"Диагностика");
}

QString DiagnosticsView::technicalDetailsTitle() const
{
    return L10n::text("diag.technical_details", u"Технические детали");
}

QString DiagnosticsView::rerunTitle() const
{
    return L10n::text("diag.rerun", u"Запустить ещё раз");
}

QString DiagnosticsView::copyTitle() const
{
    return L10n::text("common.copy", u"Скопировать");
}

void DiagnosticsView::updateTunnelConnected()
{
    const bool connected = m_tunnelController && m_tunnelController->status() == VPNStatus::Connected;
    updateProperty(m_tunnelConnected, connected, this, &DiagnosticsView::tunnelConnectedChanged);
}

QVariantList DiagnosticsView::probeCards() const
{
    QVariantList cards;
    if (const std::optional<DiagnosticsReport> &report = m_runner->lastReport()) {
        for (const DiagnosticProbeResult &probe : report->probes)
            cards.append(ProbeResultCard::fields(probe));
    }
    return cards;
}

void DiagnosticsView::setShowTechnicalDetails(bool value)
{
    updateProperty(m_showTechnicalDetails, value, this, &DiagnosticsView::showTechnicalDetailsChanged);
}

void DiagnosticsView::setControlPlaneRunning(bool value)
{
    updateProperty(m_controlPlaneRunning, value, this, &DiagnosticsView::controlPlaneRunningChanged);
}

AppGroupContainer DiagnosticsView::appGroupContainer() const
{
    return AppGroupContainer(m_options.paths, appGroupIdentifier());
}

void DiagnosticsView::appear()
{
    if (m_appeared)
        return;
    m_appeared = true;
    m_appearance = Operation<void>::run(
        [self = QPointer<DiagnosticsView>(this), loaders = m_options.loaders, container = appGroupContainer()](
            CancellationToken token) { return appearanceSteps(self, loaders, container, token); });
}

void DiagnosticsView::endPresentation()
{
    m_appearance.cancel();
}

QCoro::Task<void> DiagnosticsView::appearanceSteps(QPointer<DiagnosticsView> self, DiagnosticsSnapshotLoaders loaders,
                                                   AppGroupContainer container, CancellationToken token)
{
    QFuture<Snapshots> loading = QtConcurrent::run([loaders = std::move(loaders), container = std::move(container)] {
        Snapshots snapshots;
        snapshots.startupFailure = loadQuietly(loaders.startupFailure, container);
        snapshots.lastStartup = loadQuietly(loaders.lastStartup, container);
        snapshots.fetchedConfig = loadQuietly(loaders.fetchedConfig, container);
        return snapshots;
    });
    Snapshots snapshots = co_await loading;
    if (!self || token.isCancelled())
        co_return;
    self->applySnapshots(std::move(snapshots));

    if (!self->hasReport()) {
        co_await self->runRunner();
        if (!self || token.isCancelled())
            co_return;
    }
    if (!self->tunnelConnected() && !self->hasControlPlaneReport())
        co_await self->runControlPlaneCheck();
}

void DiagnosticsView::applySnapshots(Snapshots snapshots)
{
    m_startupFailure = std::move(snapshots.startupFailure);
    m_lastStartup = std::move(snapshots.lastStartup);
    m_fetchedConfig = std::move(snapshots.fetchedConfig);
    Q_EMIT snapshotsChanged();
}

QCoro::Task<void> DiagnosticsView::runRunner()
{
    // The runner ignores a second run; nothing to capture for it either.
    if (m_runner->isRunning())
        co_return;
    std::shared_ptr<TunnelStatusSource> statusSource;
    if (m_tunnelConnected)
        statusSource = std::make_shared<ControllerStatusSource>(m_tunnelController.data());
    QStringList telemetry = m_telemetry ? m_telemetry->telemetryLines() : QStringList();
    // The runner's run keeps what it needs in its own frame and checks that the runner
    // still exists after each step; nothing here is touched after it.
    DiagnosticsRunner *runner = m_runner;
    co_await runner->run(statusSource, telemetry);
}

QCoro::Task<void> DiagnosticsView::runControlPlaneCheck()
{
    if (m_tunnelConnected || m_controlPlaneRunning)
        co_return;
    setControlPlaneRunning(true);
    const QPointer<DiagnosticsView> self(this);
    const ControlPlaneRun run = m_options.controlPlaneRun;
    const ControlPlaneOptions options = m_options.controlPlane;
    std::optional<ControlPlaneReachability::Report> report;
    try {
        ControlPlaneReachability::Report answer = co_await run(options);
        report = std::move(answer);
    } catch (...) {
        log().error(QStringLiteral("control-plane check failed: %1").arg(descriptionOf(std::current_exception())));
    }
    if (!self)
        co_return;
    if (report) {
        m_controlPlaneReport = std::move(report);
        Q_EMIT controlPlaneReportChanged();
    }
    setControlPlaneRunning(false);
}

QCoro::Task<void> DiagnosticsView::detached(QPointer<DiagnosticsView> self, bool controlPlane)
{
    try {
        if (!self)
            co_return;
        if (controlPlane)
            co_await self->runControlPlaneCheck();
        else
            co_await self->runRunner();
    } catch (...) {
        log().error(QStringLiteral("diagnostics task failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

void DiagnosticsView::rerun()
{
    detached(QPointer<DiagnosticsView>(this), false);
}

void DiagnosticsView::checkControlPlaneAgain()
{
    detached(QPointer<DiagnosticsView>(this), true);
}

void DiagnosticsView::copy(const QString &text)
{
    m_options.clipboard->setPlainText(text);
}

void DiagnosticsView::copyReport()
{
    if (const std::optional<DiagnosticsReport> &report = m_runner->lastReport())
        copy(report->plainText());
}

void DiagnosticsView::makeStartupShareItem(const QString &text)
{
    m_startupShareItem = StartupShareItem{QUuid::createUuid(), text};
    Q_EMIT startupShareItemChanged();
}

std::function<void(const QString &)> DiagnosticsView::onShare()
{
    return [self = QPointer<DiagnosticsView>(this)](const QString &text) {
        if (self)
            self->makeStartupShareItem(text);
    };
}

} // namespace kovra::ui
