#include "PaymentWaitingModel.h"

#include "SubscriptionFormat.h"

#include "account/SubscriptionStore.h"
#include "platform/L10n.h"
#include "ui/design/DesignTypes.h"

#include <QRegularExpression>
#include <QVariantMap>

namespace kovra::ui {

namespace {

using Phase = PaymentWaitingState::Phase;
using Button = PaymentWaitingContent::Button;

Button closeButton()
{
    return {L10n::text("buy.waiting.close", u"Закрыть"), ButtonKind::Secondary, PaymentWaitingAction::Close};
}

// Splits the attempt text around its number: the looked-up text is cut at its first
// integer directive and each side formatted on its own.
void setAttempt(PaymentWaitingContent &content, int attempt)
{
    const QString pattern = L10n::text("buy.waiting.attempt", u"Проверяем начисление… (попытка %d)");
    static const QRegularExpression directive(QStringLiteral("%(\\d+\\$)?(l{0,2}|q|h)[di]"));
    const QRegularExpressionMatch match = directive.match(pattern);
    content.showsAttempt = true;
    if (!match.hasMatch()) {
        content.attemptPrefix = L10n::format(pattern, {attempt});
        return;
    }
    content.attemptPrefix = L10n::format(pattern.left(match.capturedStart()), {});
    content.attemptNumber = QString::number(attempt);
    content.attemptSuffix = L10n::format(pattern.mid(match.capturedEnd()), {});
}

QString confirmedSubtitle(const std::optional<SubscriptionOut> &latest, const QTimeZone &zone)
{
    if (latest && latest->expireUnix) {
        // An instant the calendar cannot write counts as unknown.
        QString day = SubscriptionFormat::dayMonthFormatter().string(*latest->expireUnix, zone);
        // The text ends the date with its own full stop: an abbreviated month ("13 янв.")
        // gives up its dot, a month written whole ("5 мая") is unchanged.
        if (day.endsWith(u'.'))
            day.chop(1);
        if (!day.isEmpty())
            return L10n::format(
                L10n::text("buy.waiting.confirmed.subtitle.until", u"Подписка активна до %@. Можно подключаться!"),
                {day});
    }
    return L10n::text("buy.waiting.confirmed.subtitle", u"Подписка активирована. Можно подключаться!");
}

} // namespace

PaymentWaitingContent PaymentWaitingContent::of(Phase phase, int attempt, const std::optional<SubscriptionOut> &latest,
                                                const QTimeZone &zone)
{
    PaymentWaitingContent content;
    switch (phase) {
    case Phase::idle:
    case Phase::waiting:
        content.icon = PaymentWaitingIcon::Spinner;
        content.title = L10n::text("buy.waiting.title", u"Ждём подтверждения оплаты…");
        content.subtitle = L10n::text(
            "buy.waiting.subtitle",
            u"Оплатите счёт в Telegram и вернитесь в приложение — подписка активируется автоматически.");
        if (phase == Phase::waiting && attempt >= 1)
            setAttempt(content, attempt);
        content.buttons = {closeButton()};
        break;
    case Phase::confirmed:
        content.icon = PaymentWaitingIcon::Checkmark;
        content.title = L10n::text("buy.waiting.confirmed.title", u"Подписка активна");
        content.subtitle = confirmedSubtitle(latest, zone);
        content.buttons = {{L10n::text("buy.waiting.done", u"Готово"), ButtonKind::Primary, PaymentWaitingAction::Close}};
        break;
    case Phase::timedOut:
        content.icon = PaymentWaitingIcon::Clock;
        content.title = L10n::text("buy.waiting.timeout.title", u"Оплата ещё не подтверждена");
        content.subtitle = L10n::text("buy.waiting.timeout.subtitle",
                                      u"Платёж может обрабатываться несколько минут. Если вы уже оплатили — нажмите "
                                      u"«Обновить». Если нет, попробуйте ещё раз или напишите в поддержку.");
        content.buttons = {
            {L10n::text("buy.waiting.refresh", u"Обновить"), ButtonKind::Primary, PaymentWaitingAction::Refresh},
            closeButton()};
        break;
    }
    return content;
}

PaymentWaitingModel::PaymentWaitingModel(PaymentWaitingState *state, SubscriptionStore *store,
                                         std::shared_ptr<Clock> clock, QObject *parent)
    : QObject(parent), m_state(state), m_store(store), m_clock(std::move(clock))
{
    if (state) {
        connect(state, &PaymentWaitingState::phaseChanged, this, &PaymentWaitingModel::update);
        connect(state, &PaymentWaitingState::attemptChanged, this, &PaymentWaitingModel::update);
    }
    if (store)
        connect(store, &SubscriptionStore::latestChanged, this, &PaymentWaitingModel::update);
    update();
}

PaymentWaitingModel::PaymentWaitingModel(PaymentWaitingContent content, QObject *parent)
    : QObject(parent), m_content(std::move(content))
{
}

QVariantList PaymentWaitingModel::buttons() const
{
    QVariantList out;
    for (const Button &b : m_content.buttons)
        out.append(QVariantMap{{QStringLiteral("title"), b.title},
                               {QStringLiteral("kind"), b.kind},
                               {QStringLiteral("action"), int(b.action)}});
    return out;
}

void PaymentWaitingModel::trigger(int action)
{
    if (action == PaymentWaitingAction::Refresh) {
        if (m_state)
            m_state->retry();
        return;
    }
    if (action == PaymentWaitingAction::Close)
        Q_EMIT close();
}

void PaymentWaitingModel::update()
{
    const Phase phase = m_state ? m_state->phase() : Phase::idle;
    const int attempt = m_state ? m_state->attempt() : 0;
    const std::optional<SubscriptionOut> latest = m_store ? m_store->latest() : std::nullopt;
    PaymentWaitingContent next = PaymentWaitingContent::of(phase, attempt, latest, m_clock->timeZone());
    if (next == m_content)
        return;
    m_content = std::move(next);
    Q_EMIT contentChanged();
}

} // namespace kovra::ui
