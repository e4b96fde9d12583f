#include "ui/main/PickerRows.h"

#include "catalog/RegionStatus.h"
#include "platform/L10n.h"

#include <algorithm>

namespace kovra::ui {

namespace {

// Seconds a server takes to come up, as the progress bar assumes.
constexpr double kExpectedStartSeconds = 90;
constexpr double kProgressCap = 0.95;

QString statusText(RegionStatus status)
{
    switch (status) {
    case RegionStatus::offline:
        return L10n::text("region.status.offline", u"Недоступно");
    case RegionStatus::stopped:
        return L10n::text("region.status.stopped", u"Остановлен");
    case RegionStatus::starting:
        return L10n::text("region.status.starting", u"Запускается…");
    case RegionStatus::degraded:
        return L10n::text("region.status.degraded", u"Работает с перебоями");
    case RegionStatus::online:
    case RegionStatus::unknown:
        break;
    }
    return L10n::text("region.status.available", u"Доступно");
}

} // namespace

PickerServerRow ConnectionRow::of(const Connection &connection, bool isSelected)
{
    const bool automatic = connection.kind == ConnectionKind::automatic;
    const RegionStatus status = connection.status;
    PickerServerRow row;
    row.flags = connection.flags;
    row.label = connection.label;
    row.subtitle = automatic ? L10n::text("conn.auto.hint", u"Подбираем самое быстрое рабочее подключение")
                             : statusText(status);
    if (automatic)
        row.subtitleColor = PickerColor::Accent;
    else if (status == RegionStatus::offline || status == RegionStatus::stopped || status == RegionStatus::degraded)
        row.subtitleColor = PickerColor::Warning;
    else
        row.subtitleColor = PickerColor::Secondary;
    row.isSelected = isSelected;
    row.isDimmed = status == RegionStatus::offline;
    row.isEmphasized = automatic;
    row.accessibilityLabelText = Connection::mergedTitle(connection.flags, connection.label);
    return row;
}

StartProgress StartProgress::at(const std::optional<QDateTime> &startedAt, const QDateTime &now)
{
    if (!startedAt || !startedAt->isValid())
        return {};
    StartProgress p;
    p.determinate = true;
    const double elapsed = double(startedAt->msecsTo(now)) / 1000.0;
    if (elapsed < 0)
        return p;
    // The fraction first, then the percentage from it (not elapsed × 100 / 90).
    p.fraction = std::min(elapsed / kExpectedStartSeconds, kProgressCap);
    p.percent = int(p.fraction * 100);
    return p;
}

QString StartProgress::percentText() const
{
    if (!determinate)
        return {};
    return L10n::format(L10n::text("%lld%%", u"%lld%%"), {qlonglong(percent)});
}

EphemeralRow EphemeralRow::of(const Region &region, bool isSelected, bool isWaking,
                              const std::optional<QDateTime> &startedAt, const QDateTime &now)
{
    EphemeralRow e;
    e.row.flags = region.flag;
    e.row.label = region.name;
    e.row.provider = region.provider;
    e.row.accessibilityLabelText = region.flag + u' ' + region.name;
    if (isSelectable(region.status)) {
        e.form = Form::Selectable;
        const bool degraded = region.status == RegionStatus::degraded;
        e.row.subtitle = degraded ? L10n::text("region.status.degraded", u"Работает с перебоями")
                                  : L10n::text("region.status.available", u"Доступно");
        e.row.subtitleColor = region.status == RegionStatus::online ? PickerColor::Success
            : degraded                                               ? PickerColor::Warning
                                                                     : PickerColor::Secondary;
        e.row.isSelected = isSelected;
        return e;
    }
    if (region.status == RegionStatus::starting || isWaking) {
        e.form = Form::Starting;
        e.caption = L10n::text("conn.ondemand.starting", u"Запускаем сервер, ~2 минуты…");
        e.accessibilityHint = e.caption;
        e.startedAt = startedAt;
        e.progress = StartProgress::at(startedAt, now);
        return e;
    }
    e.form = Form::Asleep;
    e.caption = L10n::text("conn.ondemand.asleep", u"Сервера нет");
    e.accessibilityHint = L10n::text("conn.ondemand.wake_hint", u"Создать сервер в облаке по запросу");
    e.actionTitle = L10n::text("conn.ondemand.wake", u"Создать");
    return e;
}

ProviderKind::Value providerKind(const RegionProvider &provider)
{
    switch (provider.kind()) {
    case RegionProvider::Case::gcp:
        return ProviderKind::Gcp;
    case RegionProvider::Case::aws:
        return ProviderKind::Aws;
    case RegionProvider::Case::hiphosting:
        return ProviderKind::HipHosting;
    case RegionProvider::Case::ztv:
        return ProviderKind::Ztv;
    case RegionProvider::Case::other:
        return ProviderKind::Other;
    case RegionProvider::Case::absent:
        break;
    }
    return ProviderKind::Absent;
}

} // namespace kovra::ui
