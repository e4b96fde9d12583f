#include "catalog/SelectionOwners.h"

#include <algorithm>

namespace kovra {

using namespace Qt::StringLiterals;

namespace {
template<class T>
bool listsID(const QList<T> &list, const QString &id)
{
    return std::any_of(list.begin(), list.end(), [&id](const T &item) { return item.id == id; });
}
} // namespace

std::optional<QString> regionSelectionFallback(const QString &selectedID, const QList<Region> &regions)
{
    if (listsID(regions, selectedID))
        return std::nullopt;
    return u"auto"_s;
}

std::optional<QString> entrySelectionFallback(const QString &selectedID, const QList<Entry> &entries)
{
    if (listsID(entries, selectedID))
        return std::nullopt;
    return Entry::defaultID(entries);
}

} // namespace kovra
