#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace kovra {

// Where the checks that run without the tunnel reach one API host: a TCP connect to
// host:port and a HEAD of rootURL. The product connects to 443 and asks for
// "https://<host>/" whatever the base URL says; with followBaseURL the base URL's own
// scheme and port are used instead (a local service, tests).
struct ApiHostTarget {
    QString host;
    quint16 port = 443;
    QString rootURL;

    // None for a base URL without a host.
    static std::optional<ApiHostTarget> of(const QUrl &baseURL, bool followBaseURL);
};

} // namespace kovra
