#include "dev-service/DevTargets.h"

#include <QJsonArray>

namespace kovra::devservice {

QJsonObject targetsJson(const QList<QUrl> &baseURLs, const QUrl &pages)
{
    const QString root = pages.toString(QUrl::StripTrailingSlash);
    const QString host = pages.host();
    const int port = pages.port();
    const QString localName = QStringLiteral("localhost");
    QUrl byName = pages;
    byName.setHost(localName);

    QJsonArray urls;
    for (const QUrl &url : baseURLs)
        urls.append(url.toString());
    QJsonArray reachability;
    const QStringList services{QStringLiteral("YouTube"), QStringLiteral("Apple"), QStringLiteral("Cloudflare"),
                               QStringLiteral("Microsoft"), QStringLiteral("Meta")};
    for (int i = 0; i < services.size(); ++i)
        reachability.append(QJsonObject{{"name", services.at(i)}, {"url", root + QStringLiteral("/probe/%1").arg(i + 1)}});

    const QString checkURL = root + QStringLiteral("/generate_204");
    return {
        {"base_urls", urls},
        {"reachability", reachability},
        {"self_test", QJsonObject{{"resolver_address", host},
                                  {"resolver_port", port},
                                  {"first_name", localName},
                                  {"second_name", localName},
                                  {"trace_url", root + QStringLiteral("/cdn-cgi/trace")},
                                  {"check_url", checkURL},
                                  {"check_label", "Local"}}},
        {"diagnostics_run", QJsonObject{{"ip_url", root + u'/'},
                                        {"exit_ip_url", root + u'/'},
                                        {"test_domain_url", byName.toString(QUrl::StripTrailingSlash) + u'/'},
                                        {"resolver_address", host},
                                        {"resolver_port", port},
                                        {"resolve_name", localName},
                                        {"entry_host", host},
                                        {"entry_port", port}}},
        {"control_plane", QJsonObject{{"check_url", checkURL}}},
    };
}

} // namespace kovra::devservice
