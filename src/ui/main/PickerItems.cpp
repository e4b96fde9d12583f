#include "ui/main/PickerItems.h"

#include "platform/L10n.h"

namespace kovra::ui {

namespace {

using namespace Qt::StringLiterals;

PickerItem textItem(PickerItemKind::Value kind, const QString &key, QString text)
{
    PickerItem item;
    item.kind = kind;
    item.key = key;
    item.text = std::move(text);
    return item;
}

// A group of one line that is not a row (the hint, the placeholders, the empty state).
PickerItem singleItem(PickerItemKind::Value kind, const QString &key, QString text)
{
    PickerItem item = textItem(kind, key, std::move(text));
    item.firstInGroup = item.lastInGroup = true;
    return item;
}

PickerItem connectionItem(const Connection &connection, const PickerSelection &selection,
                          const PickerItem *previous)
{
    const bool isSelected = selection.currentConnectionID == connection.id;
    if (previous && previous->kind == PickerItemKind::ServerRow && previous->row.isSelected == isSelected) {
        const Connection *before = std::get_if<Connection>(&previous->target);
        if (before && *before == connection) {
            PickerItem item = *previous;
            item.firstInGroup = item.lastInGroup = false;
            return item;
        }
    }
    PickerItem item;
    item.kind = PickerItemKind::ServerRow;
    item.key = u"conn:"_s + connection.id;
    item.row = ConnectionRow::of(connection, isSelected);
    item.accentBackground = connection.kind == ConnectionKind::automatic;
    item.target = connection;
    return item;
}

PickerItem regionItem(const Region &region, const PickerSelection &selection, const QDateTime &now)
{
    const auto stamp = selection.wakeStartedAt.constFind(region.id);
    const std::optional<QDateTime> startedAt =
        stamp != selection.wakeStartedAt.cend() ? std::optional<QDateTime>(*stamp) : std::nullopt;
    const EphemeralRow e = EphemeralRow::of(region, region.id == selection.selectedRegionID,
                                            selection.waking.contains(region.id), startedAt, now);
    PickerItem item;
    item.key = u"region:"_s + region.id;
    switch (e.form) {
    case EphemeralRow::Form::Selectable:
        item.kind = PickerItemKind::ServerRow;
        break;
    case EphemeralRow::Form::Starting:
        item.kind = PickerItemKind::StartingRow;
        break;
    case EphemeralRow::Form::Asleep:
        item.kind = PickerItemKind::AsleepRow;
        break;
    }
    item.text = e.caption;
    item.row = e.row;
    item.accessibilityHint = e.accessibilityHint;
    item.actionTitle = e.actionTitle;
    item.progress = e.progress;
    item.startedAt = e.startedAt;
    item.target = region;
    return item;
}

// Marks the first and last of the rows appended since `begin`.
void closeGroup(QList<PickerItem> &items, qsizetype begin)
{
    if (begin >= items.size())
        return;
    items[begin].firstInGroup = true;
    items.last().lastInGroup = true;
}

template<typename T, typename MakeItem>
void appendSection(QList<PickerItem> &items, const QList<T> &values, const char *name, const QString &header,
                   const QString &footer, MakeItem makeItem)
{
    if (values.isEmpty())
        return;
    const QString id = QString::fromLatin1(name);
    items.append(textItem(PickerItemKind::SectionHeader, u"header:"_s + id, header));
    const qsizetype begin = items.size();
    for (const T &value : values)
        items.append(makeItem(value));
    closeGroup(items, begin);
    items.append(textItem(PickerItemKind::SectionFooter, u"footer:"_s + id, footer));
}

} // namespace

QList<PickerItem> pickerItems(const PickerSections &sections, PickerListState::Value state,
                              const PickerSelection &selection, const QDateTime &now,
                              const QList<PickerItem> &previous)
{
    QList<PickerItem> items;
    switch (state) {
    case PickerListState::Loading:
        items.append(singleItem(PickerItemKind::LoadingSkeleton, u"loading"_s,
                                L10n::text("picker.loading", u"Загружаем…")));
        return items;
    case PickerListState::Empty:
        items.append(singleItem(PickerItemKind::EmptyState, u"empty"_s,
                                L10n::text("conn.list.empty", u"Список подключений пуст.")));
        return items;
    case PickerListState::List:
    case PickerListState::StaleList:
        break;
    }
    items.reserve(sections.count() + 7); // three headers, three footers, the hint
    const auto connection = [&](const Connection &c) {
        const qsizetype at = items.size();
        return connectionItem(c, selection, at < previous.size() ? &previous.at(at) : nullptr);
    };
    for (const Connection &c : sections.autoConnections)
        items.append(connection(c));
    closeGroup(items, 0);
    appendSection(items, sections.directConnections, "direct",
                  L10n::text("conn.section.direct", u"Прямые подключения"),
                  L10n::text("conn.section.direct_hint", u"Работают в большинстве сетей"), connection);
    appendSection(items, sections.relayConnections, "relay", L10n::text("conn.section.relay", u"Через Россию"),
                  L10n::text("conn.section.relay_hint", u"Запасной путь, если прямые недоступны"), connection);
    appendSection(items, sections.onDemandRegions, "ondemand", L10n::text("conn.section.ondemand", u"По запросу"),
                  L10n::text("conn.section.ondemand_hint",
                             u"Сервер поднимается примерно за 1–2 минуты после «Создать» и подключается автоматически."),
                  [&selection, &now](const Region &r) { return regionItem(r, selection, now); });
    if (state == PickerListState::StaleList)
        items.append(singleItem(PickerItemKind::StaleHint, u"stale"_s,
                                L10n::text("conn.list.offline_hint", u"Список не обновился. Показан сохранённый.")));
    return items;
}

} // namespace kovra::ui
