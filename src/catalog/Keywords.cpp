#include "catalog/Keywords.h"

#include <QHashFunctions>

namespace kovra {

QStringList lowercased(QStringList keywords)
{
    for (QString &keyword : keywords)
        keyword = keyword.toLower();
    return keywords;
}

QStringList decodeKeywords(const JsonDecodingContainer &c, QAnyStringView key)
{
    return lowercased(c.decodeIfPresent<QStringList>(key).value_or(QStringList{}));
}

size_t hashKeywords(const QStringList &keywords, size_t seed)
{
    QtPrivate::QHashCombine hash;
    seed = hash(seed, keywords.size());
    for (const QString &keyword : keywords)
        seed = hash(seed, keyword);
    return seed;
}

} // namespace kovra
