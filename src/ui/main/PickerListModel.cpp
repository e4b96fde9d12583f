#include "ui/main/PickerListModel.h"

#include <QHash>
#include <QModelIndex>
#include <QSet>

#include <algorithm>

namespace kovra::ui {

PickerListModel::PickerListModel(QObject *parent) : QAbstractListModel(parent) {}

int PickerListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

const PickerItem *PickerListModel::itemAt(int row) const
{
    return row >= 0 && row < m_items.size() ? &m_items.at(row) : nullptr;
}

QVariant PickerListModel::data(const QModelIndex &index, int role) const
{
    const PickerItem *item = index.isValid() ? itemAt(index.row()) : nullptr;
    if (!item)
        return {};
    switch (role) {
    case KindRole:
        return int(item->kind);
    case KeyRole:
        return item->key;
    case TextRole:
        return item->text;
    case FlagsRole:
        return item->row.flags;
    case LabelRole:
    case Qt::DisplayRole:
        return item->row.label;
    case SubtitleRole:
        return item->row.subtitle;
    case SubtitleColorRole:
        return int(item->row.subtitleColor);
    case ProviderRole:
        return int(providerKind(item->row.provider));
    case ProviderNameRole:
        return item->row.provider.otherName();
    case SelectedRole:
        return item->row.isSelected;
    case DimmedRole:
        return item->row.isDimmed;
    case EmphasizedRole:
        return item->row.isEmphasized;
    case AccessibilityLabelRole:
        return item->row.accessibilityLabelText;
    case AccessibilityHintRole:
        return item->accessibilityHint;
    case ActionTitleRole:
        return item->actionTitle;
    case DeterminateRole:
        return item->progress.determinate;
    case FractionRole:
        return item->progress.fraction;
    case PercentTextRole:
        return item->progress.percentText();
    case AccentBackgroundRole:
        return item->accentBackground;
    case FirstInGroupRole:
        return item->firstInGroup;
    case LastInGroupRole:
        return item->lastInGroup;
    default:
        return {};
    }
}

QHash<int, QByteArray> PickerListModel::roleNames() const
{
    return {
        {KindRole, "kind"},
        {KeyRole, "key"},
        {TextRole, "text"},
        {FlagsRole, "flags"},
        {LabelRole, "label"},
        {SubtitleRole, "subtitle"},
        {SubtitleColorRole, "subtitleColor"},
        {ProviderRole, "provider"},
        {ProviderNameRole, "providerName"},
        {SelectedRole, "selected"},
        {DimmedRole, "dimmed"},
        {EmphasizedRole, "emphasized"},
        {AccessibilityLabelRole, "accessibilityLabel"},
        {AccessibilityHintRole, "accessibilityHint"},
        {ActionTitleRole, "actionTitle"},
        {DeterminateRole, "determinate"},
        {FractionRole, "fraction"},
        {PercentTextRole, "percentText"},
        {AccentBackgroundRole, "accentBackground"},
        {FirstInGroupRole, "firstInGroup"},
        {LastInGroupRole, "lastInGroup"},
    };
}

void PickerListModel::updateRow(qsizetype row, PickerItem item)
{
    if (m_items.at(row) == item)
        return;
    m_items[row] = std::move(item);
    const QModelIndex changed = index(int(row));
    Q_EMIT dataChanged(changed, changed);
}

void PickerListModel::setItems(QList<PickerItem> next)
{
    // The usual refresh: the same lines in the same places, some with new data.
    const bool sameKeys = next.size() == m_items.size()
        && std::equal(next.cbegin(), next.cend(), m_items.cbegin(),
                      [](const PickerItem &a, const PickerItem &b) { return a.key == b.key; });
    if (sameKeys) {
        for (qsizetype i = 0; i < next.size(); ++i)
            updateRow(i, std::move(next[i]));
        return;
    }

    // 1. Rows whose key the new list lacks go, in runs from the end.
    QSet<QString> nextKeys;
    nextKeys.reserve(next.size());
    for (const PickerItem &item : next)
        nextKeys.insert(item.key);
    for (qsizetype i = m_items.size() - 1; i >= 0;) {
        if (nextKeys.contains(m_items.at(i).key)) {
            --i;
            continue;
        }
        const qsizetype last = i;
        while (i >= 0 && !nextKeys.contains(m_items.at(i).key))
            --i;
        beginRemoveRows({}, int(i + 1), int(last));
        m_items.remove(i + 1, last - i);
        endRemoveRows();
    }

    // 2. Position by position: keep the row in place, move a listed row up to it, or
    // insert the run of new rows there. Rows before `i` already match `next`; a key
    // can be listed more than once, so rows still unplaced are counted per key.
    QHash<QString, int> unplaced;
    unplaced.reserve(m_items.size());
    for (const PickerItem &item : std::as_const(m_items))
        ++unplaced[item.key];
    for (qsizetype i = 0; i < next.size(); ++i) {
        const QString &key = next.at(i).key;
        if (i < m_items.size() && m_items.at(i).key == key) {
            --unplaced[key];
            updateRow(i, std::move(next[i]));
            continue;
        }
        if (unplaced.value(key) > 0) {
            qsizetype from = i + 1;
            while (m_items.at(from).key != key)
                ++from;
            beginMoveRows({}, int(from), int(from), {}, int(i));
            m_items.move(from, i);
            endMoveRows();
            --unplaced[key];
            updateRow(i, std::move(next[i]));
            continue;
        }
        qsizetype end = i + 1;
        while (end < next.size() && unplaced.value(next.at(end).key) == 0)
            ++end;
        beginInsertRows({}, int(i), int(end - 1));
        for (qsizetype j = i; j < end; ++j)
            m_items.insert(j, std::move(next[j]));
        endInsertRows();
        i = end - 1;
    }

    // 3. Rows of a key listed fewer times than before are left over at the end.
    if (m_items.size() > next.size()) {
        beginRemoveRows({}, int(next.size()), int(m_items.size() - 1));
        m_items.remove(next.size(), m_items.size() - next.size());
        endRemoveRows();
    }
}

int PickerListModel::updateProgress(const QDateTime &now)
{
    static const QList<int> roles{DeterminateRole, FractionRole, PercentTextRole};
    int changed = 0;
    for (qsizetype row = 0; row < m_items.size(); ++row) {
        PickerItem &item = m_items[row];
        if (item.kind != PickerItemKind::StartingRow || !item.startedAt)
            continue;
        const StartProgress progress = StartProgress::at(item.startedAt, now);
        if (progress == item.progress)
            continue;
        item.progress = progress;
        const QModelIndex at = index(int(row));
        Q_EMIT dataChanged(at, at, roles);
        ++changed;
    }
    return changed;
}

bool PickerListModel::hasTimedProgress() const
{
    return std::any_of(m_items.cbegin(), m_items.cend(), [](const PickerItem &item) {
        return item.kind == PickerItemKind::StartingRow && item.startedAt.has_value();
    });
}

} // namespace kovra::ui
