#include "account/TelegramLink.h"

namespace kovra {

std::optional<QUrl> urlWithScheme(const QString &text, const QStringList &schemes)
{
    const qsizetype colon = text.indexOf(u':');
    // QUrl lower-cases the scheme; the rule is about the text as written.
    if (colon <= 0 || !schemes.contains(text.left(colon)))
        return std::nullopt;
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QCoro::Task<bool> openTelegramLink(std::shared_ptr<UrlOpener> opener, QString deepLink, QString httpsLink)
{
    if (const std::optional<QUrl> deep = urlWithScheme(deepLink, {QStringLiteral("tg"), QStringLiteral("telegram")})) {
        const bool opened = co_await opener->openURL(*deep);
        if (opened)
            co_return true;
    }
    const std::optional<QUrl> web = urlWithScheme(httpsLink, {QStringLiteral("https")});
    if (!web)
        co_return false;
    const bool opened = co_await opener->openURL(*web);
    co_return opened;
}

} // namespace kovra
