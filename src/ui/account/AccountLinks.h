#pragma once

#include <QString>
#include <QUrl>

namespace kovra::ui {

// Addresses of the service the account screens link to (service configuration).
struct AccountLinks {
    // The support bot's Telegram user name ("tg://resolve?domain=<name>").
    QString supportBotUsername;
    // The bot's page on the web, opened when Telegram is not installed.
    QUrl supportWebUrl;
    QUrl privacyPolicyUrl;

    // The addresses this build was configured with (build options KOVRA_SUPPORT_BOT,
    // KOVRA_SUPPORT_WEB_URL and KOVRA_PRIVACY_URL), each parsed strictly: an address
    // that does not parse is kept as an invalid URL.
    static AccountLinks builtIn();

    // "tg://resolve?domain=" and the bot's user name.
    QString supportDeepLink() const;
    // Whether the privacy page has an address (one that parsed).
    bool hasPrivacyPolicy() const;
};

} // namespace kovra::ui
