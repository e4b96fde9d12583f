#include "ui/diagnostics/DetailCards.h"

#include "platform/L10n.h"
#include "ui/diagnostics/DiagnosticsView.h"

namespace kovra::ui {
namespace {

using Row = ResultCard::Row;
using RowKind = ResultCard::RowKind;

const QString &emDash()
{
    static const QString dash(QChar(0x2014));
    return dash;
}

const std::optional<DiagnosticsReport> &reportOf(const DiagnosticsView *view)
{
    return view->runner()->lastReport();
}

} // namespace

DetailCards::DetailCards(DiagnosticsView *view) : QObject(view), m_view(view)
{
    connect(view, &DiagnosticsView::reportChanged, this, &DetailCards::reportChanged);
    connect(view, &DiagnosticsView::snapshotsChanged, this, &DetailCards::snapshotsChanged);
}

std::optional<ResultCard> DetailCards::tunnelStatusCard(const std::optional<TunnelStatusReport> &status)
{
    if (!status)
        return std::nullopt;
    const QString state = status->singboxRunning ? L10n::text("diag.tunnel.singbox.on", u"работает")
                                                 : L10n::text("diag.tunnel.singbox.off", u"остановлен");
    const QString index = status->ifaceIndex ? QString::number(*status->ifaceIndex) : emDash();
    ResultCard card(L10n::text("diag.tunnel.title", u"Туннель"));
    card.rows.append({RowKind::Text, QStringLiteral("sing-box: ") + state + QStringLiteral(" · интерфейс: ")
                                         + status->ifaceName.value_or(emDash()) + QStringLiteral(" · idx ") + index});
    if (const std::optional<QString> opened = cardTime(status->lastTunOpenAt))
        card.rows.append({RowKind::Text, L10n::format(L10n::text("diag.tunnel.opened", u"tun открыт: %@"), {*opened})});
    if (status->tunOpenError) {
        const QString pattern = L10n::text("diag.tunnel.openError", u"ошибка открытия tun: %@");
        card.rows.append({RowKind::Error, L10n::format(pattern, {*status->tunOpenError})});
    }
    if (!status->recentLogs.isEmpty()) {
        card.rows.append({RowKind::Label, L10n::text("diag.tunnel.logs", u"Последние логи")});
        card.rows.append({RowKind::Text, status->recentLogs.join(QLatin1Char('\n'))});
    }
    return card;
}

std::optional<ResultCard> DetailCards::reliabilityCard(const QStringList &lines)
{
    if (lines.isEmpty())
        return std::nullopt;
    ResultCard card(L10n::text("diag.reliability.title", u"Движок надёжности"));
    card.rows.append({RowKind::Text, lines.join(QLatin1Char('\n'))});
    return card;
}

std::optional<ResultCard> DetailCards::lastStartupCard(const std::optional<LastStartupDiagnostics::Snapshot> &snapshot)
{
    if (!snapshot)
        return std::nullopt;
    const QString unknown = L10n::text("diag.startup.time.unknown", u"время неизвестно");
    ResultCard card(L10n::text("diag.startup.title", u"Последний запуск туннеля"),
                    cardTime(snapshot->modifiedAt).value_or(unknown));
    card.rows.append({RowKind::Text, snapshot->text});
    card.copyText = snapshot->text;
    return card;
}

std::optional<ResultCard> DetailCards::fetchedConfigCard(const std::optional<FetchedConfigDiagnostics::Snapshot> &snapshot)
{
    if (!snapshot || (!snapshot->summary && !snapshot->redactedConfig && !snapshot->sanitizedConfig))
        return std::nullopt;
    ResultCard card(L10n::text("diag.fetchedConfig.title", u"Полученный конфиг"), cardTime(snapshot->modifiedAt));
    if (snapshot->summary)
        card.rows.append({RowKind::Text, *snapshot->summary});
    if (snapshot->redactedConfig) {
        card.rows.append({RowKind::Label, QStringLiteral("config-fetched.json (до очистки, секреты → ***)")});
        card.rows.append({RowKind::Text, *snapshot->redactedConfig});
    }
    if (snapshot->sanitizedConfig) {
        card.rows.append({RowKind::Label, QStringLiteral("config-sanitized.json (после правил R1–R5, идёт в Libbox)")});
        card.rows.append({RowKind::Text, *snapshot->sanitizedConfig});
    }
    card.copyText = fetchedConfigCopyText(*snapshot);
    return card;
}

QString DetailCards::fetchedConfigCopyText(const FetchedConfigDiagnostics::Snapshot &snapshot)
{
    QStringList present;
    for (const std::optional<QString> *text : {&snapshot.summary, &snapshot.redactedConfig, &snapshot.sanitizedConfig}) {
        if (*text)
            present.append(**text);
    }
    return present.join(QStringLiteral("\n\n"));
}

QVariantMap DetailCards::tunnelStatusFields() const
{
    const std::optional<DiagnosticsReport> &report = reportOf(m_view);
    return ResultCard::fields(report ? tunnelStatusCard(report->tunnelStatus) : std::nullopt);
}

QVariantMap DetailCards::reliabilityFields() const
{
    const std::optional<DiagnosticsReport> &report = reportOf(m_view);
    return ResultCard::fields(report ? reliabilityCard(report->reliabilityTelemetry) : std::nullopt);
}

QVariantMap DetailCards::lastStartupFields() const
{
    return ResultCard::fields(lastStartupCard(m_view->lastStartup()));
}

QVariantMap DetailCards::fetchedConfigFields() const
{
    return ResultCard::fields(fetchedConfigCard(m_view->fetchedConfig()));
}

} // namespace kovra::ui
