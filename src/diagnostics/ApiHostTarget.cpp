#include "diagnostics/ApiHostTarget.h"

namespace kovra {

std::optional<ApiHostTarget> ApiHostTarget::of(const QUrl &baseURL, bool followBaseURL)
{
    const QString host = baseURL.host();
    if (host.isEmpty())
        return std::nullopt;
    ApiHostTarget target;
    target.host = host;
    // Built as a URL so that an IPv6 address gets its brackets.
    QUrl root;
    root.setScheme(QStringLiteral("https"));
    root.setHost(host);
    if (followBaseURL) {
        const QString scheme = baseURL.scheme().toLower();
        root.setScheme(scheme);
        target.port = quint16(baseURL.port(scheme == u"http" ? 80 : 443));
        root.setPort(baseURL.port());
    }
    root.setPath(QStringLiteral("/"));
    target.rootURL = root.toString(QUrl::FullyEncoded);
    return target;
}

} // namespace kovra
