#include "SubscriptionFormat.h"

#include "platform/L10n.h"

#include <QtNumeric>

#include <limits>

namespace kovra::ui {

namespace {

constexpr qint64 kSecondsPerDay = 86400;
constexpr qint64 kSecondsPerHour = 3600;
constexpr double kBytesPerGigabyte = 1073741824.0; // 2^30

// Whole seconds since 1970, rounded down (an instant half a second before the epoch
// is in second -1).
qint64 floorSeconds(const QDateTime &instant)
{
    const qint64 ms = instant.toMSecsSinceEpoch();
    const qint64 remainder = ((ms % 1000) + 1000) % 1000;
    return (ms - remainder) / 1000;
}

QString gigabytes(qint64 bytes)
{
    return L10n::format(QStringLiteral("%.1f"), {double(bytes) / kBytesPerGigabyte});
}

QString expiredText() { return L10n::text("sub.expiry.expired", u"истекла"); }
QString todayText() { return L10n::text("sub.expiry.today", u"сегодня"); }
QString daysText(qint64 days) { return L10n::format(L10n::text("sub.expiry.days", u"осталось %d дн."), {days}); }

// Whole days from `now` to an expiry after it, in `zone`.
qint64 daysUntil(qint64 expireUnix, const QDateTime &now, const QTimeZone &zone)
{
    const QDateTime expiry = QDateTime::fromSecsSinceEpoch(expireUnix, Qt::UTC);
    if (expiry.isValid())
        return SubscriptionFormat::wholeDays(now, expiry, zone);
    // Too far for the calendar: days of 24 hours.
    qint64 seconds = 0;
    if (qSubOverflow(expireUnix, floorSeconds(now), &seconds))
        seconds = std::numeric_limits<qint64>::max();
    return seconds / kSecondsPerDay;
}

} // namespace

DayMonthFormatter::DayMonthFormatter() : m_locale(L10n::locale()), m_format(QStringLiteral("d MMM")) {}

QString DayMonthFormatter::string(const QDateTime &instant, const QTimeZone &zone) const
{
    const QDateTime local = instant.toTimeZone(zone);
    if (!local.isValid())
        return {};
    return m_locale.toString(local, m_format);
}

QString DayMonthFormatter::string(qint64 unixSeconds, const QTimeZone &zone) const
{
    return string(QDateTime::fromSecsSinceEpoch(unixSeconds, Qt::UTC), zone);
}

QString SubscriptionFormat::traffic(qint64 used, qint64 limit)
{
    return L10n::format(L10n::text("unit.traffic.gb", u"%@ / %@ ГБ"), {gigabytes(used), gigabytes(limit)});
}

QString SubscriptionFormat::expiry(std::optional<qint64> expireUnix, const Clock &clock)
{
    if (!expireUnix)
        return L10n::text("sub.expiry.never", u"без срока");
    const QDateTime now = clock.now();
    if (hasExpired(expireUnix, now))
        return expiredText();
    const qint64 days = daysUntil(*expireUnix, now, clock.timeZone());
    return days != 0 ? daysText(days) : todayText();
}

QString SubscriptionFormat::remaining(qint64 seconds)
{
    if (seconds <= 0)
        return expiredText();
    if (seconds >= kSecondsPerDay)
        return L10n::format(L10n::text("sub.detail.remaining.days", u"%d дн."), {seconds / kSecondsPerDay});
    if (seconds < kSecondsPerHour)
        return todayText();
    return L10n::format(L10n::text("sub.detail.remaining.hours", u"%d ч."), {seconds / kSecondsPerHour});
}

QString SubscriptionFormat::ctaTitle(const std::optional<SubscriptionOut> &subscription, const Clock &clock)
{
    const QString buy = L10n::text("sub.cta.buy", u"Купить подписку");
    if (!subscription)
        return buy;
    const QString renew = L10n::text("sub.cta.renew", u"Продлить подписку");
    if (hasExpired(subscription->expireUnix, clock.now()))
        return renew;
    if (isTrafficUsedUp(*subscription))
        return L10n::text("sub.cta.toptraffic", u"Пополнить трафик");
    if (subscription->status == QLatin1String("active") && !subscription->subscriptionUrl.isEmpty())
        return renew;
    return buy;
}

const DayMonthFormatter &SubscriptionFormat::dayMonthFormatter()
{
    // A function-local static: made once, and thread-safe to make.
    static const DayMonthFormatter formatter;
    return formatter;
}

bool SubscriptionFormat::hasExpired(std::optional<qint64> expireUnix, const QDateTime &now)
{
    // now < expiry ⇔ the whole second of now is before it (the expiry is a whole second).
    return expireUnix && !(floorSeconds(now) < *expireUnix);
}

bool SubscriptionFormat::isTrafficUsedUp(const SubscriptionOut &subscription)
{
    return subscription.hasDataLimit() && subscription.usedBytes >= subscription.dataLimitBytes;
}

qint64 SubscriptionFormat::wholeDays(const QDateTime &from, const QDateTime &to, const QTimeZone &zone)
{
    if (!(from < to))
        return 0;
    const QDateTime start = from.toTimeZone(zone);
    const QDateTime end = to.toTimeZone(zone);
    if (!start.isValid() || !end.isValid())
        return from.secsTo(to) / kSecondsPerDay;
    // The dates' distance counts midnights; a day only counts once the wall-clock time
    // of `from` comes round again (addDays keeps it, moving out of a skipped hour).
    qint64 days = start.date().daysTo(end.date());
    while (days > 0 && start.addDays(days) > end)
        --days;
    return days;
}

} // namespace kovra::ui
