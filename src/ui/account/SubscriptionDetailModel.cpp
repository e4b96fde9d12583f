#include "SubscriptionDetailModel.h"

#include "SubscriptionCallToAction.h"
#include "SubscriptionFormat.h"
#include "SubscriptionStatusPill.h"

#include "account/MeStore.h"
#include "account/SubscriptionStore.h"
#include "platform/L10n.h"
#include "platform/Property.h"

#include <QUrl>
#include <QtNumeric>

#include <limits>

namespace kovra::ui {

namespace {

QVariantMap detailTexts()
{
    return {
        {QStringLiteral("status"), L10n::text("sub.detail.status", u"Статус")},
        {QStringLiteral("quota"), L10n::text("sub.detail.quota", u"Трафик")},
        {QStringLiteral("expires"), L10n::text("sub.detail.expires", u"Окончание")},
        {QStringLiteral("remaining"), L10n::text("sub.detail.remaining", u"Осталось")},
        {QStringLiteral("emptyTitle"), L10n::text("sub.empty.title", u"Нет данных о подписке")},
        {QStringLiteral("emptySymbol"), QStringLiteral("doc.text.magnifyingglass")},
        {QStringLiteral("emptyHint"), L10n::text("sub.detail.empty.hint", u"Оформите подписку, чтобы подключиться.")},
        {QStringLiteral("supportHeader"), L10n::text("sub.detail.support", u"Для поддержки")},
    };
}

} // namespace

SubscriptionDetailContent SubscriptionDetailContent::of(const std::optional<SubscriptionOut> &subscription,
                                                        const std::optional<MeOut> &me, const Clock &clock)
{
    SubscriptionDetailContent content;
    if (me && me->marzbanUsername)
        content.accountId = *me->marzbanUsername;
    content.buyTitle = SubscriptionFormat::ctaTitle(subscription, clock);
    if (!subscription)
        return content;

    const SubscriptionOut &s = *subscription;
    content.hasSubscription = true;
    content.pillStyle = SubscriptionStatusPill::styleOf(s, clock);
    content.traffic = SubscriptionFormat::traffic(s.usedBytes, s.dataLimitBytes);
    content.usage = SubscriptionUsage::of(s.usedBytes, s.dataLimitBytes);
    content.usedPercent = L10n::format(L10n::text("sub.detail.quota.percent", u"Использовано %d%%"),
                                       {content.usage.percent});
    if (s.expireUnix) {
        content.expires = expiryDate(*s.expireUnix, clock.timeZone());
        content.remaining = SubscriptionFormat::remaining(secondsLeft(*s.expireUnix, clock.nowSeconds()));
    } else {
        content.expires = content.remaining = L10n::text("sub.expiry.never", u"без срока");
    }
    content.showsLinkRows = s.status == QLatin1String("active") && !s.subscriptionUrl.isEmpty();
    if (content.showsLinkRows) {
        content.showsShare = QUrl(s.subscriptionUrl, QUrl::StrictMode).isValid();
        content.supportFooter = L10n::text(
            "sub.detail.copy_subscription.footer",
            u"Вставьте эту ссылку как подписку в другом VPN-приложении. Не передавайте её посторонним.");
    }
    return content;
}

QString SubscriptionDetailContent::expiryDate(qint64 expireUnix, const QTimeZone &zone)
{
    const QDateTime local = QDateTime::fromSecsSinceEpoch(expireUnix, Qt::UTC).toTimeZone(zone);
    if (!local.isValid())
        return QStringLiteral("—");
    return L10n::locale().toString(local, QStringLiteral("d MMM yyyy 'г.', HH:mm"));
}

qint64 SubscriptionDetailContent::secondsLeft(qint64 expireUnix, qint64 nowSeconds)
{
    qint64 left = 0;
    if (qSubOverflow(expireUnix, nowSeconds, &left))
        left = expireUnix < 0 ? 0 : std::numeric_limits<qint64>::max();
    return std::max<qint64>(left, 0);
}

SubscriptionDetailModel::SubscriptionDetailModel(std::optional<SubscriptionOut> subscription,
                                                 const AccountServices &services, AccountPageLink::Maker makeBuy,
                                                 QObject *parent, std::chrono::milliseconds copiedFor)
    : AccountPageModel(L10n::text("sub.detail.title", u"Подписка"), parent), m_subscription(std::move(subscription)),
      m_store(services.subscriptionStore), m_me(services.meStore), m_clock(services.clock ? services.clock : Clock::system()),
      m_clipboard(services.clipboard), m_copiedFor(copiedFor), m_texts(detailTexts()),
      m_supportContact(new SupportContact(services.linkOpener, services.links, this)),
      m_buyLink(new AccountPageLink(this))
{
    m_buyLink->set(QString(), SubscriptionCallToAction().pageFile(), std::move(makeBuy));
    if (m_store)
        connect(m_store, &SubscriptionStore::latestChanged, this, &SubscriptionDetailModel::followStore);
    if (m_me)
        connect(m_me, &MeStore::latestChanged, this, &SubscriptionDetailModel::refresh);
    refresh();
}

SubscriptionDetailModel::~SubscriptionDetailModel() = default;

void SubscriptionDetailModel::refresh()
{
    const std::optional<MeOut> me = m_me ? m_me->latest() : std::nullopt;
    updateProperty(m_content, SubscriptionDetailContent::of(m_subscription, me, *m_clock), this,
                   &SubscriptionDetailModel::contentChanged);
    m_buyLink->setTitle(m_content.buyTitle);
}

void SubscriptionDetailModel::followStore()
{
    m_subscription = m_store->latest();
    refresh();
}

QVariantMap SubscriptionDetailModel::copyLabel(CopyControl control) const
{
    const bool copied = isCopied(control);
    QString title;
    QString hint;
    if (copied) {
        title = L10n::text("sub.detail.copied", u"Скопировано");
    } else if (control == AccountId) {
        title = L10n::text("sub.detail.copy", u"Копировать");
    } else if (control == Link) {
        title = L10n::text("sub.detail.copy_subscription", u"Скопировать подписку");
    } else {
        title = L10n::text("sub.detail.share_subscription", u"Поделиться подпиской");
    }
    if (control == AccountId)
        hint = L10n::text("sub.detail.copy_id.hint", u"Копировать ID аккаунта");
    else if (control == Link)
        hint = L10n::text("sub.detail.copy_subscription.hint", u"Скопировать ссылку-подписку для другого приложения");
    const QString idle = control == Share ? QStringLiteral("square.and.arrow.up") : QStringLiteral("doc.on.doc");
    return {{QStringLiteral("title"), title},
            {QStringLiteral("symbol"), copied ? QStringLiteral("checkmark") : idle},
            {QStringLiteral("hint"), hint.isEmpty() ? title : hint},
            {QStringLiteral("copied"), copied}};
}

void SubscriptionDetailModel::copyAccountID()
{
    if (!m_content.accountId.isEmpty())
        copy(AccountId, m_content.accountId);
}

void SubscriptionDetailModel::copySubscriptionLink()
{
    if (m_content.showsLinkRows)
        copy(Link, m_subscription->subscriptionUrl);
}

void SubscriptionDetailModel::shareSubscriptionLink()
{
    if (m_content.showsShare)
        copy(Share, m_subscription->subscriptionUrl);
}

void SubscriptionDetailModel::copy(CopyControl control, const QString &text)
{
    if (m_clipboard)
        m_clipboard->setPlainText(text);
    setCopied(control, true);
    // Replacing the timer cancels the pending reset: the window restarts.
    m_marks[control].reset = m_clock->startTimer(m_copiedFor, [this, control] { setCopied(control, false); });
}

void SubscriptionDetailModel::setCopied(CopyControl control, bool copied)
{
    updateProperty(m_marks[control].copied, copied, this, &SubscriptionDetailModel::copiedChanged);
}

void SubscriptionDetailModel::onShown()
{
    refresh();
}

void SubscriptionDetailModel::onHidden()
{
    for (CopyMark &mark : m_marks)
        mark.reset.reset();
    for (CopyControl control : {AccountId, Link, Share})
        setCopied(control, false);
}

} // namespace kovra::ui
