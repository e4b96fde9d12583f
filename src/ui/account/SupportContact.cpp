#include "SupportContact.h"

#include "account/TelegramLink.h"
#include "platform/L10n.h"

namespace kovra::ui {

ContactSupportLabel contactSupportLabel()
{
    return {L10n::text("settings.support.contact", u"Написать в поддержку"), QStringLiteral("paperplane.fill")};
}

QCoro::Task<bool> contactSupport(std::shared_ptr<UrlOpener> opener, AccountLinks links)
{
    if (!opener)
        co_return false;
    const QString deepLink = links.supportDeepLink();
    const QString webLink = links.supportWebUrl.toString(QUrl::FullyEncoded);
    const bool opened = co_await openTelegramLink(opener, deepLink, webLink);
    co_return opened;
}

SupportContact::SupportContact(std::shared_ptr<UrlOpener> opener, AccountLinks links, QObject *parent)
    : QObject(parent), m_opener(std::move(opener)), m_links(std::move(links)), m_label(contactSupportLabel())
{
}

void SupportContact::open()
{
    QCoro::Task<bool> attempt = contactSupport(m_opener, m_links);
}

} // namespace kovra::ui
