#include "diagnostics/TriageURLs.h"

#include <QUrlQuery>

namespace kovra {

QUrl ensuringSingBoxPath(const QUrl &url)
{
    if (!url.isValid())
        return url;
    QString path = url.path(QUrl::FullyEncoded);
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.endsWith(QStringLiteral("/sing_box")))
        return url;
    QUrl result = url;
    result.setPath(path + QStringLiteral("/sing_box"), QUrl::TolerantMode);
    return result;
}

QUrl withQueryItem(const QUrl &url, const QString &key, const QString &value)
{
    if (!url.isValid())
        return url;
    QUrlQuery query(url);
    query.removeAllQueryItems(key);
    // The query reads "%xx" in a value as an escape: a literal "%" must be sent as one.
    query.addQueryItem(key, QString(value).replace(QLatin1Char('%'), QStringLiteral("%25")));
    QUrl result = url;
    result.setQuery(query);
    return result;
}

QUrl withCapsQuery(const QUrl &url)
{
    return withQueryItem(url, QStringLiteral("caps"), QStringLiteral("awg,vlessenc"));
}

QUrl withEntryQuery(const QUrl &url, const std::optional<QString> &entry)
{
    if (!entry || entry->isEmpty())
        return url;
    return withQueryItem(url, QStringLiteral("entry"), *entry);
}

QUrl rebased(const QUrl &url, const QUrl &onto)
{
    if (!url.isValid())
        return url;
    QUrl result = url;
    result.setScheme(onto.scheme());
    result.setHost(onto.host());
    result.setPort(onto.port());
    return result;
}

QUrl appendingPath(const QUrl &url, const QString &component)
{
    if (!url.isValid())
        return url;
    QString path = url.path(QUrl::FullyEncoded);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    QUrl result = url;
    result.setPath(path + component, QUrl::TolerantMode);
    return result;
}

} // namespace kovra
