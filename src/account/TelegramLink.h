#pragma once

#include "platform/UrlOpener.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>

namespace kovra {

// The link as a URL when it parses and its scheme, as written (case-sensitive), is one
// of `schemes`; else none.
std::optional<QUrl> urlWithScheme(const QString &text, const QStringList &schemes);

// Opens a Telegram link pair: the deep link when its scheme is "tg" or "telegram" and
// the desktop opens it; otherwise the HTTPS link, only when its scheme is "https".
// True when one of them was opened. Never throws.
QCoro::Task<bool> openTelegramLink(std::shared_ptr<UrlOpener> opener, QString deepLink, QString httpsLink);

} // namespace kovra
