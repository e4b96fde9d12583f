#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace kovra {

// URL helpers of the network triage. Each returns a new URL and leaves its argument as
// it was; an invalid URL comes back unchanged.

// The path without one trailing "/", then "/sing_box" appended unless it already ends
// with it (then the URL is returned unchanged, trailing "/" included).
QUrl ensuringSingBoxPath(const QUrl &url);
// Every "caps" query item replaced by one "caps=awg,vlessenc" after the others.
QUrl withCapsQuery(const QUrl &url);
// Every "entry" query item replaced by one with the entry id after the others; an
// absent or empty id leaves the URL as it is.
QUrl withEntryQuery(const QUrl &url, const std::optional<QString> &entry);
// The scheme, host and port of `onto`; path and query stay.
QUrl rebased(const QUrl &url, const QUrl &onto);
// The path with one more component ("a/b" below "/api" or "/api/" gives "/api/a/b").
QUrl appendingPath(const QUrl &url, const QString &component);
// Every query item named `key` replaced by one with the value (sent as given, "%" too)
// after the others.
QUrl withQueryItem(const QUrl &url, const QString &key, const QString &value);

} // namespace kovra
