#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace kovra {

// The text of bytes that are UTF-8 throughout (a sequence cut at the end, an overlong
// form or an encoded surrogate makes them not), else none. A leading byte-order mark
// is kept as a character.
std::optional<QString> decodeStrictUtf8(const QByteArray &bytes);

} // namespace kovra
