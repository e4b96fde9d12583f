#include "AccountLinks.h"

#ifndef KOVRA_SUPPORT_BOT
#define KOVRA_SUPPORT_BOT "kovra_support_bot"
#endif
#ifndef KOVRA_SUPPORT_WEB_URL
#define KOVRA_SUPPORT_WEB_URL "https://t.me/kovra_support_bot"
#endif
#ifndef KOVRA_PRIVACY_URL
#define KOVRA_PRIVACY_URL "https://kovra.app/privacy"
#endif

namespace kovra::ui {

AccountLinks AccountLinks::builtIn()
{
    return {QString::fromUtf8(KOVRA_SUPPORT_BOT), QUrl(QString::fromUtf8(KOVRA_SUPPORT_WEB_URL), QUrl::StrictMode),
            QUrl(QString::fromUtf8(KOVRA_PRIVACY_URL), QUrl::StrictMode)};
}

QString AccountLinks::supportDeepLink() const
{
    return QStringLiteral("tg://resolve?domain=") + supportBotUsername;
}

bool AccountLinks::hasPrivacyPolicy() const
{
    return !privacyPolicyUrl.isEmpty() && privacyPolicyUrl.isValid();
}

} // namespace kovra::ui
