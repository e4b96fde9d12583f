#pragma once

#include "platform/Json.h"

#include <QStringList>

namespace kovra {

// Match keywords are kept in lower case wherever they come from.
QStringList lowercased(QStringList keywords);

// The keyword array under `key`, lower-cased; missing or null gives no keywords, a
// present value that is no array of strings fails the decoding.
QStringList decodeKeywords(const JsonDecodingContainer &c, QAnyStringView key);

// Feeds the count, then each keyword, into a hash (records hash their keyword lists this way).
size_t hashKeywords(const QStringList &keywords, size_t seed);

} // namespace kovra
