#include "SubscriptionStripModel.h"

#include "SubscriptionDetailModel.h"
#include "SubscriptionFormat.h"
#include "SubscriptionStatusPill.h"

#include "account/MeStore.h"
#include "account/SubscriptionStore.h"
#include "platform/Error.h"
#include "platform/L10n.h"
#include "platform/Property.h"

#include <QPointer>
#include <qcorotask.h>

namespace kovra::ui {

namespace {

QVariantMap stripTexts()
{
    return {
        {QStringLiteral("title"), L10n::text("sub.card.title", u"Подписка")},
        {QStringLiteral("detailHint"), L10n::text("sub.card.detail_hint", u"Открыть детали подписки")},
        {QStringLiteral("loading"), L10n::text("sub.card.loading", u"Загружаем подписку…")},
        {QStringLiteral("retry"), L10n::text("sub.card.retry", u"Повторить")},
        {QStringLiteral("refresh"), L10n::text("sub.card.refresh", u"Обновить")},
        {QStringLiteral("emptyHint"),
         L10n::text("sub.card.empty.hint", u"Нажмите «Обновить», чтобы получить подписку.")},
    };
}

} // namespace

SubscriptionStripContent SubscriptionStripContent::of(const SubscriptionStripInputs &inputs, const Clock &clock)
{
    SubscriptionStripContent content;
    if (inputs.error)
        content.errorText = localizedDescriptionOf(inputs.error);
    if (!inputs.subscription) {
        content.state = inputs.isLoading ? SubscriptionStripState::Loading
                        : inputs.error   ? SubscriptionStripState::Failed
                                         : SubscriptionStripState::Empty;
        return content;
    }
    const SubscriptionOut &s = *inputs.subscription;
    content.state = SubscriptionStripState::Loaded;
    content.hasSubscription = true;
    content.pillStyle = SubscriptionStatusPill::styleOf(s, clock);
    content.traffic = SubscriptionFormat::traffic(s.usedBytes, s.dataLimitBytes);
    content.expiry = SubscriptionFormat::expiry(s.expireUnix, clock);
    content.usage = SubscriptionUsage::of(s.usedBytes, s.dataLimitBytes);
    content.showsCallToAction = !s.isActive(clock);
    if (content.showsCallToAction)
        content.callToAction = SubscriptionCallToAction::of(s, inputs.hasTelegram, clock);
    return content;
}

SubscriptionStripModel::SubscriptionStripModel(AccountScreens screens, QObject *parent)
    : QObject(parent), m_screens(std::move(screens)), m_texts(stripTexts()), m_callToAction(new AccountPageLink(this)),
      m_detailLink(new AccountPageLink(this))
{
    // The detail screen gets a copy of the subscription as it is when the header is pressed.
    m_detailLink->set(QString(), QStringLiteral("SubscriptionDetailView.qml"),
                      [this] { return m_screens.subscriptionDetail(m_inputs.subscription); });
    recompute();
}

void SubscriptionStripModel::setInputs(SubscriptionStripInputs inputs)
{
    const bool heightChanged = inputs.minHeight != m_inputs.minHeight;
    m_inputs = std::move(inputs);
    if (!recompute() && heightChanged)
        Q_EMIT contentChanged();
}

bool SubscriptionStripModel::recompute()
{
    const Clock &clock = m_screens.services().clock ? *m_screens.services().clock : *Clock::system();
    SubscriptionStripContent content = SubscriptionStripContent::of(m_inputs, clock);
    if (content.showsCallToAction)
        m_screens.linkTo(*m_callToAction, content.callToAction);
    return updateProperty(m_content, std::move(content), this, &SubscriptionStripModel::contentChanged);
}

void SubscriptionStripModel::retry()
{
    Q_EMIT retryRequested();
}

void SubscriptionStripModel::bindToStores(SubscriptionStore *store, MeStore *me)
{
    const QPointer<SubscriptionStore> subscriptions = store;
    const QPointer<MeStore> users = me;
    const auto feed = [this, subscriptions, users] {
        SubscriptionStripInputs inputs = m_inputs;
        if (subscriptions) {
            inputs.subscription = subscriptions->latest();
            inputs.isLoading = subscriptions->isLoading();
            inputs.error = subscriptions->error();
        }
        if (users)
            inputs.hasTelegram = !users->latest() || users->latest()->hasTelegram;
        inputs.minHeight = 60;
        setInputs(std::move(inputs));
    };
    if (store) {
        connect(store, &SubscriptionStore::latestChanged, this, feed);
        connect(store, &SubscriptionStore::isLoadingChanged, this, feed);
        connect(store, &SubscriptionStore::errorChanged, this, feed);
        connect(this, &SubscriptionStripModel::retryRequested, store, [subscriptions] {
            // The store reports its failures itself; a refresh already running ends this one at once.
            if (subscriptions) {
                QCoro::Task<void> refresh = subscriptions->refresh();
            }
        });
    }
    if (me)
        connect(me, &MeStore::latestChanged, this, feed);
    feed();
}

} // namespace kovra::ui
