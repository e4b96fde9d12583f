#include "ui/account/SubscriptionFormat.h"
#include "ui/account/SubscriptionStatusPill.h"
#include "ui/account/SubscriptionUsage.h"

#include "platform/L10n.h"

#include <QTest>

#include "support/ManualClock.h"

#include <clocale>
#include <cstdio>
#include <limits>

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;

using Pill = SubscriptionStatusPill;
Q_DECLARE_METATYPE(std::optional<qint64>)
Q_DECLARE_METATYPE(std::optional<kovra::SubscriptionOut>)

namespace {

constexpr qint64 kGiB = qint64(1) << 30;
constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

const QTimeZone kBerlin("Europe/Berlin");

QDateTime berlin(int month, int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2025, month, day), QTime(hour, minute), kBerlin);
}

SubscriptionOut subscription(QString status, qint64 limit, qint64 used, std::optional<qint64> expireUnix,
                             QString url = u"https://sub.example/u"_s)
{
    return {url, status, limit, used, expireUnix, std::nullopt};
}

} // namespace

class SubscriptionTextsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void traffic_data()
    {
        QTest::addColumn<qint64>("used");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing of no limit") << qint64(0) << qint64(0) << u"0.0 / 0.0 ГБ"_s;
        QTest::newRow("half a GiB, no limit") << kGiB / 2 << qint64(0) << u"0.5 / 0.0 ГБ"_s;
        QTest::newRow("1.5 of 10") << qint64(1'610'612'736) << qint64(10'737'418'240) << u"1.5 / 10.0 ГБ"_s;
        // printf's rounding: 1.25 and 0.75 are exact ties and go to the even digit.
        QTest::newRow("a tie rounds to even") << kGiB + kGiB / 4 << kGiB * 3 / 4 << u"1.2 / 0.8 ГБ"_s;
        QTest::newRow("whole 8 EiB") << kMax << kMax << u"8589934592.0 / 8589934592.0 ГБ"_s;
    }
    void traffic()
    {
        QFETCH(qint64, used);
        QFETCH(qint64, limit);
        QTEST(SubscriptionFormat::traffic(used, limit), "text");
    }

    // A desktop session sets the C library's numbers to the user's locale; the texts
    // keep their full stop.
    void numbersIgnoreTheProcessLocale()
    {
        const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
        const char *comma = nullptr;
        for (const char *name : {"ru_RU.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
            if (std::setlocale(LC_NUMERIC, name)) {
                comma = name;
                break;
            }
        }
        if (!comma)
            QSKIP("no comma-decimal locale installed (Debian: locales-all)");
        char printed[16];
        std::snprintf(printed, sizeof printed, "%.1f", 1.5);
        const QString traffic = SubscriptionFormat::traffic(kGiB * 3 / 2, 10 * kGiB);
        const QString usdt = L10n::format(u"%.2f USDT"_s, {4.5});
        std::setlocale(LC_NUMERIC, previous.c_str());
        QCOMPARE(QString::fromLatin1(printed), u"1,5"_s); // the locale really is in force
        QCOMPARE(traffic, u"1.5 / 10.0 ГБ"_s);
        QCOMPARE(usdt, u"4.50 USDT"_s);
    }

    // Whole days in the clock's zone: a day counts once the same wall-clock time of a
    // later date is reached, through daylight-saving changes too.
    void expiry_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<std::optional<qint64>>("expireUnix");
        QTest::addColumn<QString>("text");
        const QDateTime noon = berlin(3, 5, 12);
        const qint64 at = noon.toSecsSinceEpoch();
        const auto in = [at](qint64 seconds) { return std::optional<qint64>(at + seconds); };
        const auto on = [](const QDateTime &t) { return std::optional<qint64>(t.toSecsSinceEpoch()); };
        QTest::newRow("no expiry") << noon << std::optional<qint64>() << u"без срока"_s;
        QTest::newRow("a second ago") << noon << in(-1) << u"истекла"_s;
        QTest::newRow("at the current second") << noon << in(0) << u"истекла"_s;
        QTest::newRow("later in the current second") << noon.addMSecs(600) << in(0) << u"истекла"_s;
        QTest::newRow("the next second") << noon.addMSecs(600) << in(1) << u"сегодня"_s;
        QTest::newRow("23 hours") << noon << in(23 * 3600) << u"сегодня"_s;
        QTest::newRow("across local midnight") << berlin(3, 5, 23) << on(berlin(3, 6, 1)) << u"сегодня"_s;
        QTest::newRow("36 hours") << noon << in(36 * 3600) << u"осталось 1 дн."_s;
        QTest::newRow("48 hours") << noon << in(48 * 3600) << u"осталось 2 дн."_s;
        QTest::newRow("a 23-hour day") << berlin(3, 29, 12) << on(berlin(3, 30, 12)) << u"осталось 1 дн."_s;
        QTest::newRow("24.5 hours over a 25-hour day") << berlin(10, 25, 12) << on(berlin(10, 26, 11, 30))
                                                         << u"сегодня"_s;
        QTest::newRow("past the calendar") << noon << std::optional(kMax)
                                           << u"осталось %1 дн."_s.arg((kMax - at) / 86400);
        QTest::newRow("long before the calendar") << noon << std::optional(kMin) << u"истекла"_s;
    }
    void expiry()
    {
        QFETCH(QDateTime, now);
        QFETCH(std::optional<qint64>, expireUnix);
        const test::ManualClock clock(now, kBerlin);
        QTEST(SubscriptionFormat::expiry(expireUnix, clock), "text");
    }

    void remaining_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << u"истекла"_s;
        QTest::newRow("just under an hour") << qint64(3599) << u"сегодня"_s;
        QTest::newRow("an hour") << qint64(3600) << u"осталось 1 ч."_s;
        QTest::newRow("just under a day") << qint64(86399) << u"осталось 23 ч."_s;
        QTest::newRow("a day") << qint64(86400) << u"осталось 1 дн."_s;
        QTest::newRow("largest") << kMax << u"осталось %1 дн."_s.arg(kMax / 86400);
    }
    void remaining()
    {
        QFETCH(qint64, seconds);
        QTEST(SubscriptionFormat::remaining(seconds), "text");
    }

    // The button title and the pill style share their precedence: expiry, then
    // traffic, then the exact status (the title also wants a link).
    void ctaTitleAndPillStyle_data()
    {
        QTest::addColumn<std::optional<SubscriptionOut>>("subscription");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("style");
        const test::ManualClock clock;
        const qint64 now = clock.nowSeconds();
        const std::optional<qint64> future = now + 86400, none;
        const auto row = [](const char *tag, const SubscriptionOut &s) -> QTestData & {
            return QTest::newRow(tag) << std::optional(s);
        };
        QTest::newRow("no subscription") << std::optional<SubscriptionOut>() << u"Купить подписку"_s << -1;
        row("active", subscription(u"active"_s, 10, 5, future)) << u"Продлить подписку"_s << int(Pill::Active);
        row("expired and out of traffic", subscription(u"active"_s, 10, 10, now - 1))
            << u"Продлить подписку"_s << int(Pill::Expired);
        row("expiring at this second", subscription(u"disabled"_s, 0, 0, now))
            << u"Продлить подписку"_s << int(Pill::Expired);
        row("traffic used up", subscription(u"active"_s, 10, 10, future))
            << u"Пополнить трафик"_s << int(Pill::NoTraffic);
        row("traffic over, status inactive", subscription(u"limited"_s, 10, 11, none))
            << u"Пополнить трафик"_s << int(Pill::NoTraffic);
        row("no limit, much used", subscription(u"active"_s, 0, kMax, none))
            << u"Продлить подписку"_s << int(Pill::Active);
        row("negative limit", subscription(u"active"_s, -1, 5, future)) << u"Продлить подписку"_s << int(Pill::Active);
        row("status differs in case", subscription(u"Active"_s, 10, 5, future))
            << u"Купить подписку"_s << int(Pill::Inactive);
        row("active without a link", subscription(u"active"_s, 10, 5, future, QString()))
            << u"Купить подписку"_s << int(Pill::Active);
    }
    void ctaTitleAndPillStyle()
    {
        QFETCH(std::optional<SubscriptionOut>, subscription);
        const test::ManualClock clock;
        QTEST(SubscriptionFormat::ctaTitle(subscription, clock), "title");
        if (subscription)
            QTEST(int(Pill::styleOf(*subscription, clock)), "style");
    }

    void usage_data()
    {
        QTest::addColumn<qint64>("used");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<double>("fraction");
        QTest::addColumn<int>("tint");
        QTest::addColumn<int>("percent");
        const int accent = UsageTint::Accent, warning = UsageTint::Warning, danger = UsageTint::Danger;
        QTest::newRow("nothing used") << qint64(0) << qint64(100) << 0.0 << accent << 0;
        QTest::newRow("below orange") << qint64(8499) << qint64(10000) << 0.8499 << accent << 84;
        QTest::newRow("orange") << qint64(85) << qint64(100) << 0.85 << warning << 85;
        QTest::newRow("all used") << qint64(100) << qint64(100) << 1.0 << danger << 100;
        QTest::newRow("over the limit") << kMax << qint64(1) << 1.0 << danger << 100;
        // No limit is not a full bar.
        QTest::newRow("no limit") << 50 * kGiB << qint64(0) << 0.0 << accent << 0;
        QTest::newRow("negative limit") << qint64(5) << qint64(-1) << 0.0 << accent << 0;
    }
    void usage()
    {
        QFETCH(qint64, used);
        QFETCH(qint64, limit);
        QFETCH(double, fraction);
        const SubscriptionUsage usage = SubscriptionUsage::of(used, limit);
        QCOMPARE(usage.fraction, fraction);
        QTEST(int(usage.tint), "tint");
        QTEST(usage.percent, "percent");
    }

    // Day and abbreviated month in the given zone; an instant the calendar cannot hold
    // gives no text.
    void dayMonth_data()
    {
        QTest::addColumn<qint64>("unix");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("text");
        const qint64 lateOnMarch4 = QDateTime(QDate(2025, 3, 4), QTime(22, 30), Qt::UTC).toSecsSinceEpoch();
        QTest::newRow("UTC") << lateOnMarch4 << u"UTC"_s << u"4 мар."_s;
        QTest::newRow("next day in Moscow") << lateOnMarch4 << u"Europe/Moscow"_s << u"5 мар."_s;
        QTest::newRow("May") << QDateTime(QDate(2025, 5, 5), QTime(9, 0), Qt::UTC).toSecsSinceEpoch() << u"UTC"_s
                             << u"5 мая"_s;
        QTest::newRow("out of range") << kMax << u"UTC"_s << QString();
    }
    void dayMonth()
    {
        QFETCH(qint64, unix);
        QFETCH(QString, zone);
        QTEST(SubscriptionFormat::dayMonthFormatter().string(unix, QTimeZone(zone.toLatin1())), "text");
    }
};

QTEST_GUILESS_MAIN(SubscriptionTextsTest)
#include "tst_subscription_texts.moc"
