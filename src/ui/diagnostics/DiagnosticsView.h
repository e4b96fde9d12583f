#pragma once

#include "core/TunnelStopReason.h"
#include "diagnostics/ControlPlaneReachability.h"
#include "diagnostics/DiagnosticsRunner.h"
#include "diagnostics/ExtensionSnapshots.h"
#include "platform/Async.h"
#include "tunnel/TunnelController.h"
#include "ui/diagnostics/ControlPlanePresenter.h"
#include "ui/diagnostics/ConnectivityCheck.h"
#include "ui/diagnostics/DiagnosticsViewOptions.h"
#include "ui/diagnostics/StartupShareItem.h"
#include "ui/diagnostics/TriagePresenter.h"
#include "ui/diagnostics/DetailCards.h"
#include "ui/diagnostics/DiagnosticsViewOptions.h"
#include "ui/diagnostics/StartupShareItem.h"
#include "ui/diagnostics/StatusSection.h"

#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <functional>
#include <memory>
#include <optional>

namespace kovra {

class TelemetrySource;

namespace ui {

// The state of one presentation of the diagnostics sheet: the snapshots the tunnel
// provider left, the one diagnostics runner, the check of the API hosts without the
// tunnel, the item handed to sharing and the technical-details disclosure. Sections
// of the sheet keep their own state in objects of their own and reach the shared
// services through the accessors below.
//
// The tunnel counts as connected only while a tunnel controller is present and its
// status is connected. appear() starts the work of the sheet's first showing, once;
// endPresentation() (and the destructor) cancels it. A rerun is not cancelled: it
// holds the sheet weakly and ends without touching a sheet or runner that is gone.
// Lives on the GUI thread.
class DiagnosticsView : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("built by the sheet's presenter")

    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString technicalDetailsTitle READ technicalDetailsTitle CONSTANT)
    Q_PROPERTY(QString rerunTitle READ rerunTitle CONSTANT)
    Q_PROPERTY(QString copyTitle READ copyTitle CONSTANT)

    Q_PROPERTY(bool tunnelConnected READ tunnelConnected NOTIFY tunnelConnectedChanged)
    Q_PROPERTY(bool running READ isRunning NOTIFY runnerStateChanged)
    Q_PROPERTY(bool hasReport READ hasReport NOTIFY runnerStateChanged)
    Q_PROPERTY(bool rerunEnabled READ rerunEnabled NOTIFY runnerStateChanged)
    Q_PROPERTY(bool copyReportEnabled READ copyReportEnabled NOTIFY runnerStateChanged)
    Q_PROPERTY(QVariantList probeCards READ probeCards NOTIFY reportChanged)
    Q_PROPERTY(bool showTechnicalDetails READ showTechnicalDetails WRITE setShowTechnicalDetails
                   NOTIFY showTechnicalDetailsChanged)
    Q_PROPERTY(bool controlPlaneRunning READ controlPlaneRunning NOTIFY controlPlaneRunningChanged)
    Q_PROPERTY(bool hasControlPlaneReport READ hasControlPlaneReport NOTIFY controlPlaneReportChanged)
    Q_PROPERTY(ControlPlanePresenter *controlPlane READ controlPlane CONSTANT)
    Q_PROPERTY(TriagePresenter *triage READ triage CONSTANT)
    Q_PROPERTY(kovra::ui::ConnectivityCheck *connectivityCheck READ connectivityCheck CONSTANT)
    Q_PROPERTY(kovra::ui::StatusSection *statusSection READ statusSection CONSTANT)
    Q_PROPERTY(kovra::ui::DetailCards *detailCards READ detailCards CONSTANT)

public:
    using Options = DiagnosticsViewOptions;

    // The app group whose container and defaults the sheet reads.
    static const QString &appGroupIdentifier();

    // `tunnelController` and `telemetry` are optional; neither is owned. The telemetry
    // source must outlive the view.
    DiagnosticsView(TunnelController *tunnelController, TelemetrySource *telemetry, Options options = {},
                    QObject *parent = nullptr);
    ~DiagnosticsView() override;

    QString title() const;
    QString technicalDetailsTitle() const;
    QString rerunTitle() const;
    QString copyTitle() const;

    TunnelController *tunnelController() const { return m_tunnelController; }
    TelemetrySource *telemetrySource() const { return m_telemetry; }
    bool tunnelConnected() const { return m_tunnelConnected; }

    DiagnosticsRunner *runner() const { return m_runner; }
    bool isRunning() const { return m_runner->isRunning(); }
    bool hasReport() const { return m_runner->hasReport(); }
    bool rerunEnabled() const { return !isRunning(); }
    bool copyReportEnabled() const { return hasReport() && !isRunning(); }
    // One card per probe of the last report, in report order (see ProbeResultCard).
    QVariantList probeCards() const;

    const std::optional<LastStartupFailureDiagnostics::Snapshot> &startupFailure() const { return m_startupFailure; }
    const std::optional<LastStartupDiagnostics::Snapshot> &lastStartup() const { return m_lastStartup; }
    const std::optional<FetchedConfigDiagnostics::Snapshot> &fetchedConfig() const { return m_fetchedConfig; }
    // Part of the sheet's state; nothing sets it.
    const std::optional<TunnelStopReason> &lastStopReason() const { return m_lastStopReason; }

    const std::optional<StartupShareItem> &startupShareItem() const { return m_startupShareItem; }

    const std::optional<ControlPlaneReachability::Report> &controlPlaneReport() const { return m_controlPlaneReport; }
    bool hasControlPlaneReport() const { return m_controlPlaneReport.has_value(); }
    bool controlPlaneRunning() const { return m_controlPlaneRunning; }

    // The in-tunnel self-test section.
    ConnectivityCheck *connectivityCheck() const { return m_connectivityCheck; }

    bool showTechnicalDetails() const { return m_showTechnicalDetails; }
    void setShowTechnicalDetails(bool value);
    Q_INVOKABLE void toggleTechnicalDetails() { setShowTechnicalDetails(!m_showTechnicalDetails); }

    // The sections of the main column on the API hosts and on the network triage.
    ControlPlanePresenter *controlPlane() const { return m_controlPlane; }
    TriagePresenter *triage() const { return m_triage; }
    // The status line and start-up failure card; the report and snapshot cards.
    StatusSection *statusSection() const { return m_statusSection; }
    DetailCards *detailCards() const { return m_detailCards; }

    // Shared services of the sections.
    const Options &options() const { return m_options; }
    const std::shared_ptr<Clipboard> &clipboard() const { return m_options.clipboard; }
    const std::shared_ptr<Clock> &clock() const { return m_options.clock; }
    AppGroupContainer appGroupContainer() const;
    std::unique_ptr<AppGroupStore> makeAppGroupStore() const { return m_options.appGroupFactory(); }

    // The work of the sheet's first showing, started once per view: the three snapshot
    // loaders in order on a worker thread, applied together; then, without a report,
    // runRunner(); then, while the tunnel is not connected and no host check has a
    // report, runControlPlaneCheck(). Later calls do nothing.
    Q_INVOKABLE void appear();
    // The running (or ended) work of appear(); invalid before it.
    Operation<void> appearanceWork() const { return m_appearance; }
    // Cancels the work of appear(): nothing of it starts from now on. Called when the
    // presentation ends; a run already under way finishes on its own.
    void endPresentation();

    // One diagnostics run: with the tunnel's status report only when the tunnel is
    // connected now (a failed query gives none), with a copy of the engine's telemetry
    // lines (none without an engine).
    QCoro::Task<void> runRunner();
    // Starts runRunner() in a task of its own (the rerun button).
    Q_INVOKABLE void rerun();

    // The check of the API hosts without the tunnel. Returns at once while the tunnel
    // is connected or a check runs; otherwise runs it and stores its report.
    QCoro::Task<void> runControlPlaneCheck();
    // Starts runControlPlaneCheck() in a task of its own.
    Q_INVOKABLE void checkControlPlaneAgain();

    // Puts the text on the clipboard as its only, plain item.
    Q_INVOKABLE void copy(const QString &text);
    // Copies the last report's plain text; without a report does nothing.
    Q_INVOKABLE void copyReport();

    // Stores a new share item (fresh identity) for the text, replacing any earlier one.
    Q_INVOKABLE void makeStartupShareItem(const QString &text);
    // The share callback handed to every copy control of the sheet (makeStartupShareItem
    // while the view lives).
    std::function<void(const QString &)> onShare();

Q_SIGNALS:
    void tunnelConnectedChanged();
    void runnerStateChanged();
    void reportChanged();
    void snapshotsChanged();
    void startupShareItemChanged();
    void controlPlaneReportChanged();
    void controlPlaneRunningChanged();
    void showTechnicalDetailsChanged();

private:
    struct Snapshots;
    static QCoro::Task<void> appearanceSteps(QPointer<DiagnosticsView> self, DiagnosticsSnapshotLoaders loaders,
                                             AppGroupContainer container, CancellationToken token);
    static QCoro::Task<void> detached(QPointer<DiagnosticsView> self, bool controlPlane);
    void applySnapshots(Snapshots snapshots);
    void updateTunnelConnected();
    void setControlPlaneRunning(bool value);

    Options m_options;
    QPointer<TunnelController> m_tunnelController;
    TelemetrySource *m_telemetry;
    DiagnosticsRunner *m_runner;
    bool m_tunnelConnected = false;
    std::optional<LastStartupFailureDiagnostics::Snapshot> m_startupFailure;
    std::optional<LastStartupDiagnostics::Snapshot> m_lastStartup;
    std::optional<FetchedConfigDiagnostics::Snapshot> m_fetchedConfig;
    std::optional<TunnelStopReason> m_lastStopReason;
    std::optional<StartupShareItem> m_startupShareItem;
    std::optional<ControlPlaneReachability::Report> m_controlPlaneReport;
    bool m_controlPlaneRunning = false;
    ConnectivityCheck *m_connectivityCheck = nullptr;
    bool m_showTechnicalDetails = false;
    bool m_appeared = false;
    ControlPlanePresenter *m_controlPlane;
    TriagePresenter *m_triage;
    Operation<void> m_appearance;
    StatusSection *m_statusSection = nullptr;
    DetailCards *m_detailCards = nullptr;
};

} // namespace ui
} // namespace kovra
