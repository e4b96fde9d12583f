#pragma once

#include "account/SubscriptionOut.h"
#include "platform/Clock.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <optional>

namespace kovra::ui {

// Writes an instant as day and abbreviated month in Russian ("5 мар.", "5 мая"), in a
// given time zone. Immutable once made; safe to use from any thread.
class DayMonthFormatter {
public:
    DayMonthFormatter();

    // Empty when the instant cannot be written (outside the calendar's range).
    QString string(const QDateTime &instant, const QTimeZone &zone) const;
    QString string(qint64 unixSeconds, const QTimeZone &zone) const;

private:
    QLocale m_locale;
    QString m_format;
};

// The texts every screen writes a subscription with: the home card, the detail screen,
// the call-to-action button, the payment confirmation and the menu-bar line. Pure
// functions of their arguments and the clock (its time and its time zone).
class SubscriptionFormat {
public:
    // "1.5 / 10.0 ГБ": both counts in GiB with one decimal and a full stop, whatever
    // the process locale. A limit below 1 (no limit) still prints as 0.0.
    static QString traffic(qint64 used, qint64 limit);
    // "без срока", "осталось N дн." (whole days in the clock's zone), "сегодня" (less
    // than a day left), or "истекла" (the expiry is now or past).
    static QString expiry(std::optional<qint64> expireUnix, const Clock &clock = *Clock::system());
    // The detail screen's time left, beside its own "Осталось" label: "истекла" (0 or
    // less), "N дн." (a day or more), "N ч." (an hour or more), else "сегодня".
    static QString remaining(qint64 seconds);
    // "Купить подписку", "Продлить подписку" (expired, or an active subscription with a
    // link) or "Пополнить трафик" (the limit used up), in that precedence.
    static QString ctaTitle(const std::optional<SubscriptionOut> &subscription, const Clock &clock = *Clock::system());

    // The process-wide "d MMM" formatter (made on first use).
    static const DayMonthFormatter &dayMonthFormatter();

    // Whether the expiry has come at `now`: the current instant is not strictly before
    // it. An absent expiry never comes.
    static bool hasExpired(std::optional<qint64> expireUnix, const QDateTime &now);
    // Whether a limited subscription has used all its traffic.
    static bool isTrafficUsedUp(const SubscriptionOut &subscription);
    // How many whole days fit between `from` and a later `to` in `zone`: a day is
    // counted once the same wall-clock time of a later date is reached (23:00 to 01:00
    // the next morning is 0). 0 when `to` is not later.
    static qint64 wholeDays(const QDateTime &from, const QDateTime &to, const QTimeZone &zone);
};

} // namespace kovra::ui
