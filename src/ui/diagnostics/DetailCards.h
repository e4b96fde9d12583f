#pragma once

#include "diagnostics/DiagnosticsReport.h"
#include "diagnostics/ExtensionSnapshots.h"
#include "ui/diagnostics/ResultCard.h"

#include <QObject>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace kovra::ui {

class DiagnosticsView;

// The read-only cards of the technical details that show what the last finished run
// captured (the tunnel's own status, the reliability engine's lines) and what the
// tunnel provider left behind (the last start-up's log, the fetched configuration).
// Every read rebuilds a card from the sheet's state alone; an absent card reads as an
// empty map. Nothing here loads, polls or stores anything.
class DetailCards : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("part of DiagnosticsView")

    Q_PROPERTY(QVariantMap tunnelStatus READ tunnelStatusFields NOTIFY reportChanged)
    Q_PROPERTY(QVariantMap reliability READ reliabilityFields NOTIFY reportChanged)
    Q_PROPERTY(QVariantMap lastStartup READ lastStartupFields NOTIFY snapshotsChanged)
    Q_PROPERTY(QVariantMap fetchedConfig READ fetchedConfigFields NOTIFY snapshotsChanged)

public:
    explicit DetailCards(DiagnosticsView *view);

    QVariantMap tunnelStatusFields() const;
    QVariantMap reliabilityFields() const;
    QVariantMap lastStartupFields() const;
    QVariantMap fetchedConfigFields() const;

    // The tunnel's status: "sing-box: <state> · интерфейс: <name or —> · idx <index or
    // —>", then the open time, the open error (red) and the recent log lines, each only
    // when present. No copy control.
    static std::optional<ResultCard> tunnelStatusCard(const std::optional<TunnelStatusReport> &status);
    // The engine's lines joined by line feeds; none without lines.
    static std::optional<ResultCard> reliabilityCard(const QStringList &lines);
    // The last start-up's log with its time, or "время неизвестно" without one.
    static std::optional<ResultCard> lastStartupCard(const std::optional<LastStartupDiagnostics::Snapshot> &snapshot);
    // The summary, then each configuration under its file's label, each only when
    // present (an empty text is present); none when no text is.
    static std::optional<ResultCard> fetchedConfigCard(const std::optional<FetchedConfigDiagnostics::Snapshot> &snapshot);
    // The present texts among summary, fetched and sanitized configuration, in that
    // order, with an empty line between neighbours.
    static QString fetchedConfigCopyText(const FetchedConfigDiagnostics::Snapshot &snapshot);

Q_SIGNALS:
    void reportChanged();
    void snapshotsChanged();

private:
    DiagnosticsView *m_view;
};

} // namespace kovra::ui
