#pragma once

#include "catalog/Connection.h"
#include "catalog/Region.h"
#include "ui/design/DesignTypes.h"
#include "ui/main/PickerTypes.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace kovra::ui {

// What one selectable row of the picker shows: the flags and title, the status line
// in its colour, the provider badge, the check mark, dimming (0.45) and emphasis
// (headline font), and the label read out for the whole row.
struct PickerServerRow {
    QString flags;
    QString label;
    QString subtitle;
    RegionProvider provider;
    PickerColor::Value subtitleColor = PickerColor::Secondary;
    bool isSelected = false;
    bool isDimmed = false;
    bool isEmphasized = false;
    QString accessibilityLabelText;

    bool operator==(const PickerServerRow &) const = default;
};

// A route as a picker row. The automatic route reads "conn.auto.hint" in the accent
// colour whatever its status, with its title emphasised; other routes their status,
// in the warning colour when offline, stopped or degraded. Only an offline route is
// dimmed. No provider badge.
namespace ConnectionRow {
PickerServerRow of(const Connection &connection, bool isSelected);
}

// The progress of an on-demand server being created: elapsed / 90 s, capped at 0.95,
// 0 for a start in the future; the percentage is fraction × 100 truncated.
// Indeterminate (fraction 0) without a start time.
struct StartProgress {
    bool determinate = false;
    double fraction = 0;
    int percent = 0;

    static StartProgress at(const std::optional<QDateTime> &startedAt, const QDateTime &now);
    // "50%"; empty when indeterminate.
    QString percentText() const;

    bool operator==(const StartProgress &) const = default;
};

// An on-demand region as a picker row, in the first form that applies: Selectable
// (online, unknown or degraded, waking or not), Starting (starting, or waking),
// Asleep (any other status).
struct EphemeralRow {
    enum class Form { Selectable, Starting, Asleep };

    Form form = Form::Asleep;
    // Every field for the selectable form; flags, title, provider and the spoken label
    // ("<flag> <name>") for the others.
    PickerServerRow row;
    // The line under the title of the starting and the asleep forms.
    QString caption;
    QString accessibilityHint;
    // The asleep form's wake button.
    QString actionTitle;
    std::optional<QDateTime> startedAt;
    StartProgress progress;

    static EphemeralRow of(const Region &region, bool isSelected, bool isWaking,
                           const std::optional<QDateTime> &startedAt, const QDateTime &now);
};

// The badge a provider shows.
ProviderKind::Value providerKind(const RegionProvider &provider);

} // namespace kovra::ui
