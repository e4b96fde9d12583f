#pragma once

#include <QUrl>

#include <qcoro/qcorotask.h>

namespace kovra {

// Hands links to the applications the desktop has registered for them (a browser, a
// messenger). Product code depends on this interface; tests record what would have
// been opened instead of starting anything.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;

    // Opens `url` with the application registered for its scheme. True when the link
    // was handed over; false when the URL is not valid, no application is registered
    // for its scheme, or the desktop refused it. Never throws.
    virtual QCoro::Task<bool> openURL(QUrl url) = 0;
};

} // namespace kovra
