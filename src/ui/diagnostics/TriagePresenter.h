#pragma once

#include "diagnostics/TriageRecords.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <qcoro/qcorotask.h>

#include <optional>

namespace kovra::ui {

class DiagnosticsView;

// The network triage section of the diagnostics sheet: the detailed check of the API
// hosts without the tunnel, its steps as they finish, its report and the sending of
// that report to the service.
//
// A run starts only while the tunnel is not connected and no run is under way; a
// send only while no send is under way. Both set their flag before their first
// suspension. The tasks the buttons start are not kept: closing the sheet does not
// cancel them (a send under way still reaches the service), and what they finish
// after the sheet is gone is dropped. Built by the sheet's DiagnosticsView, which it
// reads for the tunnel's state, the app group and the options. GUI thread only.
class TriagePresenter : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("built by the diagnostics sheet")

    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString runningText READ runningText CONSTANT)
    Q_PROPERTY(QString needsVPNOffText READ needsVPNOffText CONSTANT)
    Q_PROPERTY(QString runTitle READ runTitle CONSTANT)
    Q_PROPERTY(QString sendTitle READ sendTitle CONSTANT)

    Q_PROPERTY(Body body READ body NOTIFY bodyChanged)
    Q_PROPERTY(QString summary READ summary NOTIFY bodyChanged)
    Q_PROPERTY(bool allPassed READ allPassed NOTIFY bodyChanged)
    Q_PROPERTY(QString plainText READ plainText NOTIFY bodyChanged)
    Q_PROPERTY(QStringList rows READ rows NOTIFY rowsChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(bool buttonsEnabled READ buttonsEnabled NOTIFY busyChanged)
    Q_PROPERTY(bool hasUploadStatus READ hasUploadStatus NOTIFY triageUploadStatusChanged)
    Q_PROPERTY(QString uploadStatus READ uploadStatusText NOTIFY triageUploadStatusChanged)
    Q_PROPERTY(bool runShown READ runShown NOTIFY runShownChanged)

public:
    // What the section's body shows: nothing; the running text and the steps so far;
    // the report's summary, rows, copy control and send button.
    enum Body { Empty, Running, Report };
    Q_ENUM(Body)

    explicit TriagePresenter(DiagnosticsView *view);

    QString title() const;
    QString runningText() const;
    QString needsVPNOffText() const;
    QString runTitle() const;
    QString sendTitle() const;

    // The sheet's state of the section.
    const std::optional<TriageReport> &triageReport() const { return m_report; }
    const QList<TriageStep> &triageSteps() const { return m_steps; }
    bool triageRunning() const { return m_running; }
    const std::optional<QString> &triageUploadStatus() const { return m_uploadStatus; }
    bool triageUploading() const { return m_uploading; }

    Body body() const;
    // The report's summary; empty without a report.
    QString summary() const;
    // Every step of the report passed (also when it has none).
    bool allPassed() const;
    // The report as plain text, for the copy control; empty without a report.
    QString plainText() const;
    // One line per step, by position: the report's steps when there is a report, else
    // the steps of the run under way so far (none without a run).
    QStringList rows() const;
    // The header's progress indicator: a run or a send is under way.
    bool busy() const { return m_running || m_uploading; }
    // Run and send are pressable: neither is under way.
    bool buttonsEnabled() const { return !busy(); }
    bool hasUploadStatus() const { return m_uploadStatus.has_value(); }
    QString uploadStatusText() const { return m_uploadStatus.value_or(QString()); }
    // The run button, in place of the notice that the tunnel must be off.
    bool runShown() const;

    // One triage run with a fresh handle on the app group's defaults; each step is
    // appended as it finishes, then the report is stored and the run flag cleared.
    // Returns at once while the tunnel is connected or a run is under way.
    QCoro::Task<void> runTriage();
    void appendTriageStep(const TriageStep &step);
    // Sends the report and shows the incident code, or why sending failed. Returns at
    // once while a send is under way.
    QCoro::Task<void> uploadTriage(TriageReport report);

    // The run button: starts runTriage() in a task of its own.
    Q_INVOKABLE void run();
    // The send button: starts uploadTriage() with the report shown now; without one
    // does nothing.
    Q_INVOKABLE void send();

Q_SIGNALS:
    void triageReportChanged();
    void triageStepsChanged();
    void triageRunningChanged();
    void triageUploadStatusChanged();
    void triageUploadingChanged();
    void bodyChanged();
    void rowsChanged();
    void busyChanged();
    void runShownChanged();

private:
    static QCoro::Task<void> detachedRun(QPointer<TriagePresenter> self);
    static QCoro::Task<void> detachedUpload(QPointer<TriagePresenter> self, TriageReport report);
    void setReport(std::optional<TriageReport> report);
    void setSteps(QList<TriageStep> steps);
    void setRunning(bool value);
    void setUploadStatus(std::optional<QString> status);
    void setUploading(bool value);

    DiagnosticsView *m_view;
    std::optional<TriageReport> m_report;
    QList<TriageStep> m_steps;
    bool m_running = false;
    std::optional<QString> m_uploadStatus;
    bool m_uploading = false;
};

} // namespace kovra::ui
