#pragma once

#include "dev-service/DevService.h"
#include "platform/Http.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkRequest>

#include <functional>

#include "support/Await.h"
#include "support/ManualClock.h"

namespace kovra::test {

// A development service on a manual clock, started in-process.
struct DevServiceRun {
    explicit DevServiceRun(devservice::DevServiceOptions options = {})
    {
        options.clock = clock;
        service = std::make_unique<devservice::DevService>(std::move(options));
        started = service->start(&error);
    }
    QUrl base(int host = 0) const { return service->baseURLs().at(host); }

    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::unique_ptr<devservice::DevService> service;
    bool started = false;
    QString error;
};

// The default options but for what `set` changes.
inline devservice::DevServiceOptions optionsWith(const std::function<void(devservice::DevServiceOptions &)> &set)
{
    devservice::DevServiceOptions options;
    set(options);
    return options;
}

// One request over a fresh session; "path" goes after the base URL. Throws URLError on
// a transport failure.
inline QCoro::Task<HttpResponse> sendTo(QUrl base, QByteArray method, QString path, QString token = {}, QByteArray body = {})
{
    auto session = HttpSession::ephemeral(std::chrono::seconds(10));
    QNetworkRequest request(QUrl(base.toString() + path));
    if (!token.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    co_return co_await session->send(method, request, body);
}

inline HttpResponse fetch(const QUrl &base, const QByteArray &method, const QString &path, const QString &token = {},
                          const QByteArray &body = {})
{
    return await(sendTo(base, method, path, token, body));
}

inline QJsonObject objectOf(const HttpResponse &response)
{
    return QJsonDocument::fromJson(response.body).object();
}

// A Telegram sign-in through the polls; returns the token (empty when it failed).
inline QString signIn(const QUrl &base, int confirmAfter, QString *nonceOut = nullptr)
{
    const QString nonce = objectOf(fetch(base, "POST", QStringLiteral("/auth/start_session"))).value("nonce").toString();
    if (nonceOut)
        *nonceOut = nonce;
    HttpResponse last;
    for (int poll = 0; poll <= confirmAfter; ++poll)
        last = fetch(base, "GET", QStringLiteral("/auth/poll/") + nonce);
    return objectOf(last).value("access_token").toString();
}

} // namespace kovra::test
