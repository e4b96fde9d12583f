#include "ui/diagnostics/TriagePresenter.h"

#include "core/AppGroupStore.h"
#include "diagnostics/DiagnosticsUploader.h"
#include "diagnostics/NetworkTriage.h"
#include "platform/L10n.h"
#include "platform/Log.h"
#include "platform/Property.h"
#include "ui/diagnostics/DiagnosticsView.h"

namespace kovra::ui {
namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("Diagnostics"));
    return logger;
}

} // namespace

TriagePresenter::TriagePresenter(DiagnosticsView *view) : QObject(view), m_view(view)
{
    connect(view, &DiagnosticsView::tunnelConnectedChanged, this, &TriagePresenter::runShownChanged);
    connect(this, &TriagePresenter::triageReportChanged, this, &TriagePresenter::bodyChanged);
    connect(this, &TriagePresenter::triageRunningChanged, this, &TriagePresenter::bodyChanged);
    connect(this, &TriagePresenter::triageReportChanged, this, &TriagePresenter::rowsChanged);
    connect(this, &TriagePresenter::triageStepsChanged, this, &TriagePresenter::rowsChanged);
    connect(this, &TriagePresenter::triageRunningChanged, this, &TriagePresenter::rowsChanged);
    connect(this, &TriagePresenter::triageRunningChanged, this, &TriagePresenter::busyChanged);
    connect(this, &TriagePresenter::triageUploadingChanged, this, &TriagePresenter::busyChanged);
}

QString TriagePresenter::title() const
{
    return L10n::text("diag.triage.title", u"Проверка сети без VPN — подробно");
}

QString TriagePresenter::runningText() const
{
    return L10n::text("diag.triage.running", u"Проверяем сеть…");
}

QString TriagePresenter::needsVPNOffText() const
{
    return L10n::text("diag.triage.needsVPNOff", u"Выключите VPN перед проверкой: при поднятом туннеле она измеряет "
                                                 u"маршрут внутри него, а не причину запуска.");
}

QString TriagePresenter::runTitle() const
{
    return L10n::text("diag.triage.run", u"Запустить");
}

QString TriagePresenter::sendTitle() const
{
    return L10n::text("diag.triage.send", u"Отправить нам");
}

TriagePresenter::Body TriagePresenter::body() const
{
    if (m_report)
        return Report;
    return m_running ? Running : Empty;
}

QString TriagePresenter::summary() const
{
    return m_report ? m_report->summary : QString();
}

bool TriagePresenter::allPassed() const
{
    return m_report && m_report->allOk();
}

QString TriagePresenter::plainText() const
{
    return m_report ? m_report->plainText() : QString();
}

QStringList TriagePresenter::rows() const
{
    static const QList<TriageStep> none;
    const QList<TriageStep> &steps = m_report ? m_report->steps : m_running ? m_steps : none;
    QStringList rows;
    rows.reserve(steps.size());
    for (const TriageStep &step : steps)
        rows << step.rowText();
    return rows;
}

bool TriagePresenter::runShown() const
{
    return !m_view->tunnelConnected();
}

void TriagePresenter::setReport(std::optional<TriageReport> report)
{
    updateProperty(m_report, std::move(report), this, &TriagePresenter::triageReportChanged);
}

void TriagePresenter::setSteps(QList<TriageStep> steps)
{
    updateProperty(m_steps, std::move(steps), this, &TriagePresenter::triageStepsChanged);
}

void TriagePresenter::setRunning(bool value)
{
    updateProperty(m_running, value, this, &TriagePresenter::triageRunningChanged);
}

void TriagePresenter::setUploadStatus(std::optional<QString> status)
{
    updateProperty(m_uploadStatus, std::move(status), this, &TriagePresenter::triageUploadStatusChanged);
}

void TriagePresenter::setUploading(bool value)
{
    updateProperty(m_uploading, value, this, &TriagePresenter::triageUploadingChanged);
}

void TriagePresenter::appendTriageStep(const TriageStep &step)
{
    m_steps.append(step);
    Q_EMIT triageStepsChanged();
}

QCoro::Task<void> TriagePresenter::runTriage()
{
    if (m_view->tunnelConnected() || m_running)
        co_return;
    setRunning(true);
    setReport(std::nullopt);
    setSteps({});
    setUploadStatus(std::nullopt);

    const QPointer<TriagePresenter> self(this);
    AppGroupStore store = *m_view->makeAppGroupStore();
    NetworkTriageOptions options = m_view->options().triage;
    // Outlives the section when the sheet closes mid-run; then it appends nowhere.
    NetworkTriage::StepHandler onStep = [self](const TriageStep &step) {
        if (self)
            self->appendTriageStep(step);
    };
    std::optional<TriageReport> report;
    try {
        TriageReport finished = co_await NetworkTriage::run(std::move(store), std::move(onStep), std::move(options));
        report = std::move(finished);
    } catch (...) {
        log().error(QStringLiteral("network triage failed: %1").arg(descriptionOf(std::current_exception())));
    }
    if (!self)
        co_return;
    if (report)
        setReport(std::move(report));
    setRunning(false);
}

QCoro::Task<void> TriagePresenter::uploadTriage(TriageReport report)
{
    if (m_uploading)
        co_return;
    setUploading(true);
    setUploadStatus(std::nullopt);

    const QPointer<TriagePresenter> self(this);
    AppGroupStore store = *m_view->makeAppGroupStore();
    DiagnosticsUploader::Options options = m_view->options().upload;
    QString status;
    try {
        const QString incident = co_await DiagnosticsUploader::upload(std::move(report), std::move(store), std::move(options));
        status = L10n::format(L10n::text("diag.triage.sent", u"Отправлено, код %@"), {incident});
    } catch (...) {
        const QString reason = DiagnosticsUploader::failureText(std::current_exception());
        status = L10n::format(L10n::text("diag.triage.sendFailed", u"Не удалось отправить: %@"), {reason});
    }
    if (!self)
        co_return;
    setUploadStatus(status);
    setUploading(false);
}

QCoro::Task<void> TriagePresenter::detachedRun(QPointer<TriagePresenter> self)
{
    try {
        if (self)
            co_await self->runTriage();
    } catch (...) {
        log().error(QStringLiteral("triage task failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

QCoro::Task<void> TriagePresenter::detachedUpload(QPointer<TriagePresenter> self, TriageReport report)
{
    try {
        if (self)
            co_await self->uploadTriage(std::move(report));
    } catch (...) {
        log().error(QStringLiteral("triage upload task failed: %1").arg(descriptionOf(std::current_exception())));
    }
}

void TriagePresenter::run()
{
    detachedRun(QPointer<TriagePresenter>(this));
}

void TriagePresenter::send()
{
    if (m_report)
        detachedUpload(QPointer<TriagePresenter>(this), *m_report);
}

} // namespace kovra::ui
