#pragma once

#include "diagnostics/ConnectivityReport.h"
#include "ui/diagnostics/ConnectivityCheckOptions.h"

#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <optional>

namespace kovra::ui {

class DiagnosticsView;

// The in-tunnel self-test section of the diagnostics sheet: runs the self-test while
// the tunnel is connected, raced against a watchdog, and holds the last report that
// finished in time. Built by its DiagnosticsView (its parent), whose tunnel
// controller, clock, clipboard and app-group container it uses.
//
// A run holds the section weakly: closing the sheet does not stop it, the self-test
// still leaves its report in the container, and nothing is applied to a section that
// is gone. A run that times out keeps the earlier report; the time-out notice then
// shows above it until the next run starts. Lives on the GUI thread.
class ConnectivityCheck : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("part of the diagnostics sheet")

    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString runTitle READ runTitle CONSTANT)
    Q_PROPERTY(QString copyTitle READ copyTitle CONSTANT)
    Q_PROPERTY(QString timeoutText READ timeoutText CONSTANT)
    Q_PROPERTY(QString countersTitle READ countersTitle CONSTANT)

    Q_PROPERTY(bool running READ connectivityRunning NOTIFY connectivityRunningChanged)
    Q_PROPERTY(bool timedOut READ connectivityTimedOut NOTIFY connectivityTimedOutChanged)
    Q_PROPERTY(bool runEnabled READ runEnabled NOTIFY runEnabledChanged)
    Q_PROPERTY(QString hint READ hint NOTIFY hintChanged)

    Q_PROPERTY(bool hasReport READ hasReport NOTIFY connectivityReportChanged)
    Q_PROPERTY(QString verdict READ verdict NOTIFY connectivityReportChanged)
    Q_PROPERTY(bool verdictOk READ verdictOk NOTIFY connectivityReportChanged)
    Q_PROPERTY(QString exitLine READ exitLine NOTIFY connectivityReportChanged)
    Q_PROPERTY(QString hypothesisLine READ hypothesisLine NOTIFY connectivityReportChanged)
    Q_PROPERTY(QVariantList steps READ steps NOTIFY connectivityReportChanged)
    Q_PROPERTY(bool countersExpanded READ countersExpanded WRITE setCountersExpanded NOTIFY countersExpandedChanged)

public:
    ConnectivityCheck(DiagnosticsView *view, ConnectivityCheckOptions options);

    QString title() const;
    QString runTitle() const;
    QString copyTitle() const;
    // The notice of a run that timed out, with the watchdog's limit in whole seconds.
    QString timeoutText() const;
    QString countersTitle() const;

    const std::optional<ConnectivityReport> &connectivityReport() const { return m_report; }
    bool connectivityRunning() const { return m_running; }
    bool connectivityTimedOut() const { return m_timedOut; }

    // Connected and no run under way.
    bool runEnabled() const { return m_runEnabled; }
    // Without a report and without a time-out: the idle hint while connected, else the
    // needs-tunnel hint. Empty otherwise.
    QString hint() const { return m_hint; }

    bool hasReport() const { return m_report.has_value(); }
    // The held report's verdict (a fixed text per classification) and whether it is
    // the good one; empty and false without a report.
    QString verdict() const;
    bool verdictOk() const;
    // The held report's exit line, counters line and step rows (below); empty without one.
    QString exitLine() const;
    QString hypothesisLine() const;
    QVariantList steps() const;

    // The section's own disclosure of the counters; collapsed at first.
    bool countersExpanded() const { return m_countersExpanded; }
    void setCountersExpanded(bool value);
    Q_INVOKABLE void toggleCounters() { setCountersExpanded(!m_countersExpanded); }

    // One run. Returns at once, changing nothing, without a tunnel controller, while
    // the tunnel is not connected or while a run is under way. Otherwise marks the run
    // (clearing a time-out, keeping the report), asks the tunnel for its status report
    // (a failure leaves none), then races the self-test against the watchdog; when the
    // watchdog wins the run still waits for the self-test to end. A report that came
    // first is stored; none marks the run as timed out.
    QCoro::Task<void> runConnectivityCheck();
    // Starts runConnectivityCheck() in a task of its own (the run button).
    Q_INVOKABLE void run();

    // Puts the report's plain text on the clipboard.
    void copyConnectivityReport(const ConnectivityReport &report);
    // Copies the held report; without one does nothing.
    Q_INVOKABLE void copyReport();

    // The fixed texts of the section.
    static QString verdictText(ConnectivityClassification classification);
    static QString layerLabel(ConnectivityLayer layer);
    // "выход: <address> (<location>)", "—" for the one missing; empty when both are.
    static QString formatExit(const ConnectivityReport &report);
    // "гипотеза A: skippedBinds=<n>[ / total=<m>]"; empty without the skipped-binds count.
    static QString formatHypothesis(const ConnectivityReport &report);
    // A step's row: id, ok, symbol, title ("[<layer>] <name>"), detail (may be empty),
    // latency ("<n> ms") and accessibleName.
    static QVariantMap stepFields(const ConnectivityStep &step);

Q_SIGNALS:
    void connectivityReportChanged();
    void connectivityRunningChanged();
    void connectivityTimedOutChanged();
    void runEnabledChanged();
    void hintChanged();
    void countersExpandedChanged();

private:
    static QCoro::Task<void> detached(QPointer<ConnectivityCheck> self);
    bool tunnelConnected() const;
    void setRunning(bool value);
    void setTimedOut(bool value);
    void refresh();

    DiagnosticsView *m_view;
    ConnectivityCheckOptions m_options;
    std::optional<ConnectivityReport> m_report;
    bool m_running = false;
    bool m_timedOut = false;
    bool m_runEnabled = false;
    QString m_hint;
    bool m_countersExpanded = false;
};

} // namespace kovra::ui
