#pragma once

#include <QString>
#include <QVariant>

#include <initializer_list>

namespace kovra::L10n {

// The user text for a dotted key. An installed translation wins over the Russian
// default: an id-based one (lrelease -idbased, the key as message id), else one that
// carries the key as source text in context "kovra". A key no translation has, or
// translates to an empty text, gives the default.
QString text(const char *key, QStringView russianDefault);

// printf-style formatting of a looked-up text. Supports %d %i %ld %lld %u %@ %s,
// positional forms ("%1$@", "%2$d"), a precision for %f ("%.1f", "%.2f") and %%.
// A missing argument formats as an empty text; unknown directives are kept as written.
QString format(const QString &pattern, const QVariantList &args);

// The locale every date and number of the product is written in (ru_RU).
const class QLocale &locale();

} // namespace kovra::L10n
