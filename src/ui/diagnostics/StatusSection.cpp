#include "ui/diagnostics/StatusSection.h"

#include "platform/L10n.h"
#include "ui/diagnostics/DiagnosticsView.h"

namespace kovra::ui {

SummaryVerdict summaryVerdict(const DiagnosticsReport &report)
{
    const qsizetype total = report.probes.size();
    const qsizetype ok = report.okCount();
    if (total == 0 || ok == 0)
        return SummaryVerdict::NonePassed;
    return ok == total ? SummaryVerdict::AllPassed : SummaryVerdict::SomePassed;
}

QString StatusSection::summaryText(const DiagnosticsReport &report)
{
    const QVariantList counts{qlonglong(report.okCount()), qlonglong(report.probes.size())};
    switch (summaryVerdict(report)) {
    case SummaryVerdict::AllPassed:
        return L10n::format(L10n::text("diag.summary.allOk", u"Соединение работает: открываются %1$d из %2$d сервисов"),
                            counts);
    case SummaryVerdict::SomePassed:
        return L10n::format(L10n::text("diag.summary.partial", u"Работает частично: открываются %1$d из %2$d сервисов"),
                            counts);
    case SummaryVerdict::NonePassed:
        break;
    }
    return L10n::text("diag.summary.none", u"Проблема на пути к серверам — попробуйте другую локацию");
}

StatusLine StatusLine::compose(bool running, const std::optional<DiagnosticsReport> &report, bool tunnelConnected,
                               bool startupFailure)
{
    StatusLine line;
    if (running) {
        line.kind = Running;
        line.text = L10n::text("diag.running", u"Запускаю пробы…");
    } else if (report) {
        line.kind = Summary;
        line.text = StatusSection::summaryText(*report);
        line.headline = true;
        switch (summaryVerdict(*report)) {
        case SummaryVerdict::AllPassed:
            line.tone = TextTone::Success;
            line.dot = StatusDotState::Connected;
            line.glow = true;
            break;
        case SummaryVerdict::SomePassed:
            line.tone = TextTone::Warning;
            line.dot = StatusDotState::Warning;
            break;
        case SummaryVerdict::NonePassed:
            line.tone = TextTone::Danger;
            line.dot = StatusDotState::Danger;
            break;
        }
    } else if (tunnelConnected) {
        line.kind = Idle;
        line.text = L10n::text("diag.idle", u"Нажмите «Запустить ещё раз»");
    } else if (startupFailure) {
        line.kind = StartupFailure;
        line.text = L10n::text("diag.startupFailure.summary", u"Не удалось запустить туннель");
        line.tone = TextTone::Danger;
        line.headline = true;
        line.dot = StatusDotState::Danger;
    } else {
        line.kind = Disconnected;
        line.text = L10n::text("diag.disconnected", u"Туннель не подключён");
    }
    return line;
}

std::optional<ResultCard> StatusSection::startupFailureCard(
    const std::optional<LastStartupFailureDiagnostics::Snapshot> &snapshot)
{
    if (!snapshot)
        return std::nullopt;
    ResultCard card(L10n::text("diag.startupFailure.title", u"Почему туннель не запустился"),
                    cardTime(snapshot->modifiedAt), TextTone::Danger);
    card.rows.append({ResultCard::RowKind::Text, snapshot->text});
    card.copyText = snapshot->text;
    return card;
}

StatusSection::StatusSection(DiagnosticsView *view) : QObject(view), m_view(view)
{
    connect(view, &DiagnosticsView::runnerStateChanged, this, &StatusSection::update);
    connect(view, &DiagnosticsView::tunnelConnectedChanged, this, &StatusSection::update);
    connect(view, &DiagnosticsView::snapshotsChanged, this, &StatusSection::update);
    connect(view, &DiagnosticsView::snapshotsChanged, this, &StatusSection::startupFailureChanged);
    update();
}

QVariantMap StatusSection::startupFailureCardFields() const
{
    return ResultCard::fields(startupFailureCard(m_view->startupFailure()));
}

void StatusSection::update()
{
    StatusLine line = StatusLine::compose(m_view->isRunning(), m_view->runner()->lastReport(), m_view->tunnelConnected(),
                                          m_view->startupFailure().has_value());
    if (line == m_line)
        return;
    m_line = std::move(line);
    Q_EMIT lineChanged();
}

} // namespace kovra::ui
