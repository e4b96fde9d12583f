#pragma once

#include "diagnostics/DiagnosticsReport.h"
#include "diagnostics/ExtensionSnapshots.h"
#include "ui/design/DesignTypes.h"
#include "ui/diagnostics/ResultCard.h"

#include <QObject>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace kovra::ui {

class DiagnosticsView;

// How many probes of a report got through: none (also with no probes at all), some, all.
enum class SummaryVerdict { AllPassed, SomePassed, NonePassed };
SummaryVerdict summaryVerdict(const DiagnosticsReport &report);

// The first line of the diagnostics sheet, as a value.
struct StatusLine {
    enum Kind { Running, Summary, Idle, StartupFailure, Disconnected };

    Kind kind = Disconnected;
    QString text;
    TextTone::Value tone = TextTone::Secondary;
    // The headline font (else the subheadline font).
    bool headline = false;
    // The status dot before the text (size 10), when there is one.
    std::optional<StatusDotState::Value> dot;
    bool glow = false;

    // The first that holds: the runner runs; a report exists (its summary, in the
    // verdict's tone); the tunnel is connected (a failure snapshot does not change
    // that); a start-up failure snapshot exists; otherwise the tunnel is not connected.
    static StatusLine compose(bool running, const std::optional<DiagnosticsReport> &report, bool tunnelConnected,
                              bool startupFailure);

    friend bool operator==(const StatusLine &, const StatusLine &) = default;
};

// The top of the diagnostics sheet: the status line, which follows the runner, the
// tunnel and the snapshots as they change, and the card of the tunnel's last start-up
// failure, which stays as loaded for the presentation. Reads the sheet's state only.
class StatusSection : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("part of DiagnosticsView")

    Q_PROPERTY(bool running READ running NOTIFY lineChanged)
    Q_PROPERTY(QString text READ text NOTIFY lineChanged)
    Q_PROPERTY(int tone READ tone NOTIFY lineChanged)
    Q_PROPERTY(bool headline READ headline NOTIFY lineChanged)
    Q_PROPERTY(bool showsDot READ showsDot NOTIFY lineChanged)
    Q_PROPERTY(int dotState READ dotState NOTIFY lineChanged)
    Q_PROPERTY(bool glow READ glow NOTIFY lineChanged)
    Q_PROPERTY(QVariantMap startupFailureCard READ startupFailureCardFields NOTIFY startupFailureChanged)

public:
    explicit StatusSection(DiagnosticsView *view);

    const StatusLine &line() const { return m_line; }
    bool running() const { return m_line.kind == StatusLine::Running; }
    QString text() const { return m_line.text; }
    int tone() const { return m_line.tone; }
    bool headline() const { return m_line.headline; }
    bool showsDot() const { return m_line.dot.has_value(); }
    int dotState() const { return m_line.dot.value_or(StatusDotState::Inactive); }
    bool glow() const { return m_line.glow; }
    QVariantMap startupFailureCardFields() const;

    // The summary of a report: the localised all- or some-passed text with the passed
    // and total counts put in by position; the none-passed text as it stands.
    static QString summaryText(const DiagnosticsReport &report);
    // The start-up failure card: red title, the file's time when known, its text whole,
    // copied as it stands.
    static std::optional<ResultCard> startupFailureCard(
        const std::optional<LastStartupFailureDiagnostics::Snapshot> &snapshot);

Q_SIGNALS:
    void lineChanged();
    void startupFailureChanged();

private:
    void update();

    DiagnosticsView *m_view;
    StatusLine m_line;
};

} // namespace kovra::ui
