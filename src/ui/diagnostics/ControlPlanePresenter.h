#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace kovra::ui {

class DiagnosticsView;

// The section of the diagnostics sheet on the API hosts' reachability without the
// tunnel: what it shows of the sheet's host check (DiagnosticsView::runControlPlaneCheck,
// controlPlaneReport, controlPlaneRunning). The section exists only while the tunnel
// is not connected; its report is never cleared, so a new check keeps the last
// verdict and rows on screen until its own report replaces them. Built by the sheet's
// DiagnosticsView. GUI thread only.
class ControlPlanePresenter : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("built by the diagnostics sheet")

    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString runningText READ runningText CONSTANT)
    Q_PROPERTY(QString rerunTitle READ rerunTitle CONSTANT)

    Q_PROPERTY(bool shown READ shown NOTIFY shownChanged)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(bool rerunEnabled READ rerunEnabled NOTIFY runningChanged)
    Q_PROPERTY(bool hasReport READ hasReport NOTIFY reportChanged)
    Q_PROPERTY(QString verdictTitle READ verdictTitle NOTIFY reportChanged)
    Q_PROPERTY(bool reachable READ reachable NOTIFY reportChanged)
    Q_PROPERTY(QStringList rows READ rows NOTIFY reportChanged)
    Q_PROPERTY(QString plainText READ plainText NOTIFY reportChanged)

public:
    explicit ControlPlanePresenter(DiagnosticsView *view);

    QString title() const;
    QString runningText() const;
    QString rerunTitle() const;

    // The tunnel is not connected.
    bool shown() const;
    // A check is under way (the header's progress indicator).
    bool running() const;
    bool rerunEnabled() const { return !running(); }
    bool hasReport() const;
    // The verdict's title; empty without a report.
    QString verdictTitle() const;
    // The verdict says the hosts are reachable (else they are blocked somewhere).
    bool reachable() const;
    // One row per host result, by position, in report order.
    QStringList rows() const;
    // The report as plain text, for the copy control; empty without a report.
    QString plainText() const;

    // The rerun button: starts the sheet's host check in a task of its own and
    // returns at once.
    Q_INVOKABLE void rerun();

Q_SIGNALS:
    void shownChanged();
    void runningChanged();
    void reportChanged();

private:
    DiagnosticsView *m_view;
};

} // namespace kovra::ui
