#pragma once

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/UrlOpener.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace kovra {

// The desktop's link opener. Web links (http, https) go to the desktop at once. A link
// of any other scheme ("tg") is opened only when the desktop names an application for
// it: `xdg-mime query default x-scheme-handler/<scheme>` must print one within the
// bound. The query runs as a separate process; the caller's thread only awaits it.
class DesktopUrlOpener final : public UrlOpener {
public:
    struct Options {
        // The program asked for the scheme's application.
        QString xdgMime = QStringLiteral("xdg-mime");
        // How long the query may take; a query still running then is killed and
        // counts as "no application".
        std::chrono::milliseconds queryBound{3000};
        std::shared_ptr<Clock> clock = Clock::system();
        // Hands a checked link to the desktop; runs `xdgOpen` when empty.
        std::function<bool(const QUrl &)> launch = nullptr;
        // The program a checked link is handed to when `launch` is empty. It runs
        // detached with its output discarded: a link can carry a sign-in nonce, and the
        // opener's complaints (no browser found, ...) quote the link.
        QString xdgOpen = QStringLiteral("xdg-open");
    };

    DesktopUrlOpener() : DesktopUrlOpener(Options()) {}
    explicit DesktopUrlOpener(Options options);

    QCoro::Task<bool> openURL(QUrl url) override;

    // Runs `program` detached on `url` with its output discarded; whether it started.
    static bool launchDetached(const QUrl &url, const QString &program = QStringLiteral("xdg-open"));

    // Whether the desktop names an application for the scheme. False when the query
    // cannot run, fails, prints nothing or outlasts the bound.
    QCoro::Task<bool> hasSchemeHandler(QString scheme) const;

private:
    Options m_options;
    Logger m_log{QStringLiteral("Links")};
};

} // namespace kovra
