#include "LinkedAccounts.h"

#include "platform/L10n.h"

namespace kovra::ui {

namespace {

QString connectedText()
{
    return L10n::text("settings.link.connected", u"Подключён");
}

// The linked value: the e-mail when the service knows one, else "Подключён".
std::optional<QString> linkedValue(bool linked, const std::optional<QString> &email)
{
    if (!linked)
        return std::nullopt;
    if (email && !email->isEmpty())
        return *email;
    return connectedText();
}

} // namespace

QVariantMap LinkedAccountRow::toVariant() const
{
    return {{QStringLiteral("account"), int(account)},
            {QStringLiteral("title"), title},
            {QStringLiteral("systemImage"), systemImage},
            {QStringLiteral("isConnected"), connectedValue.has_value()},
            {QStringLiteral("connectedValue"), connectedValue.value_or(QString())},
            {QStringLiteral("showsConnectedDot"), showsConnectedDot},
            {QStringLiteral("notConnectedTitle"), notConnectedTitle},
            {QStringLiteral("isLinking"), isLinking},
            {QStringLiteral("isDisabled"), isDisabled},
            {QStringLiteral("unavailableNote"), unavailableNote}};
}

QList<LinkedAccountRow> LinkedAccountRow::of(const std::optional<MeOut> &me, const LinkingState &linking,
                                             bool appleAvailable, bool googleAvailable)
{
    const bool busy = linking.inProgress();
    LinkedAccountRow telegram{LinkedAccount::Telegram,
                              QStringLiteral("Telegram"),
                              QStringLiteral("paperplane.fill"),
                              me && me->hasTelegram ? std::optional(connectedText()) : std::nullopt,
                              true,
                              L10n::text("settings.link.telegram", u"Привязать Telegram"),
                              false,
                              busy,
                              {}};
    LinkedAccountRow apple{LinkedAccount::Apple,
                           QStringLiteral("Apple ID"),
                           QStringLiteral("applelogo"),
                           linkedValue(me && me->hasApple, me ? me->appleEmail : std::nullopt),
                           false,
                           L10n::text("settings.link.apple", u"Привязать Apple ID"),
                           linking.apple,
                           busy || !appleAvailable,
                           appleAvailable ? QString()
                                          : L10n::text("settings.link.apple.unavailable",
                                                       u"Вход через Apple недоступен в этой системе")};
    LinkedAccountRow google{LinkedAccount::Google,
                            QStringLiteral("Google"),
                            QStringLiteral("g.circle.fill"),
                            linkedValue(me && me->hasGoogle, me ? me->googleEmail : std::nullopt),
                            false,
                            L10n::text("settings.link.google", u"Привязать Google"),
                            linking.google,
                            busy || !googleAvailable,
                            {}};
    return {telegram, apple, google};
}

QString logoutConfirmMessage(const std::optional<MeOut> &me)
{
    if (!me || me->hasTelegram)
        return L10n::text("settings.logout.confirm.message",
                          u"Соединение будет разорвано, потребуется заново войти через Telegram.");
    if (me->hasGoogle && me->hasApple)
        return L10n::text("settings.logout.confirm.message.social",
                          u"Соединение будет разорвано, потребуется заново войти через Apple или Google.");
    if (me->hasGoogle)
        return L10n::text("settings.logout.confirm.message.google",
                          u"Соединение будет разорвано, потребуется заново войти через Google.");
    return L10n::text("settings.logout.confirm.message.apple",
                      u"Соединение будет разорвано, потребуется заново войти через Apple.");
}

} // namespace kovra::ui
