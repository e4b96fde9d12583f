#include "ui/account/AccountScreens.h"
#include "ui/account/PaymentWaitingModel.h"
#include "ui/account/SubscriptionFormat.h"
#include "ui/account/SubscriptionUsage.h"
#include "ui/account/TariffCardTexts.h"
#include "ui/design/DesignTypes.h"

#include "platform/L10n.h"

#include <QSignalSpy>
#include <QTest>

#include "PaymentFakes.h"

#include <clocale>
#include <cstdio>
#include <limits>

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using Phase = PaymentWaitingState::Phase;
Q_DECLARE_METATYPE(std::optional<qint64>)
Q_DECLARE_METATYPE(std::optional<int>)
Q_DECLARE_METATYPE(std::optional<kovra::SubscriptionOut>)
Q_DECLARE_METATYPE(kovra::Tariff)
Q_DECLARE_METATYPE(kovra::ui::SubscriptionUsage)

namespace {

constexpr qint64 kGiB = qint64(1) << 30;
constexpr qint64 kMax = std::numeric_limits<qint64>::max();

const QTimeZone kBerlin("Europe/Berlin");

QDateTime berlin(int month, int day, int hour, int minute = 0)
{
    return QDateTime(QDate(2025, month, day), QTime(hour, minute), kBerlin);
}

// "title:kind:action" per button, top to bottom.
QString buttonsOf(const PaymentWaitingContent &content)
{
    QStringList out;
    for (const auto &b : content.buttons)
        out << u"%1:%2:%3"_s.arg(b.title, b.kind == ButtonKind::Primary ? u"primary"_s : u"secondary"_s,
                                  b.action == PaymentWaitingAction::Refresh ? u"refresh"_s : u"close"_s);
    return out.join(u" | "_s);
}

const QString kClose = u"Закрыть:secondary:close"_s;
const QString kWaiting = u"Оплатите счёт в Telegram и вернитесь в приложение — подписка активируется автоматически."_s;
const QString kActivated = u"Подписка активирована. Можно подключаться!"_s;

} // namespace

class AccountTextsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Traffic in GB to one decimal, and the time left in whole hours, then days (the
    // detail screen's row is labelled "Осталось" already).
    void formats_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("text");
        const auto traffic = [](const char *tag, qint64 used, qint64 limit) -> QTestData & {
            return QTest::addRow("traffic: %s", tag) << SubscriptionFormat::traffic(used, limit);
        };
        const auto remaining = [](const char *tag, qint64 seconds) -> QTestData & {
            return QTest::addRow("remaining: %s", tag) << SubscriptionFormat::remaining(seconds);
        };
        traffic("nothing of no limit", 0, 0) << u"0.0 / 0.0 ГБ"_s;
        traffic("1.5 of 10", 1'610'612'736, 10'737'418'240) << u"1.5 / 10.0 ГБ"_s;
        // printf's rounding: 1.25 and 0.75 are exact ties and go to the even digit.
        traffic("a tie rounds to even", kGiB + kGiB / 4, kGiB * 3 / 4) << u"1.2 / 0.8 ГБ"_s;
        traffic("whole 8 EiB", kMax, kMax) << u"8589934592.0 / 8589934592.0 ГБ"_s;
        remaining("zero", 0) << u"истекла"_s;
        remaining("just under an hour", 3599) << u"сегодня"_s;
        remaining("an hour", 3600) << u"1 ч."_s;
        remaining("just under a day", 86399) << u"23 ч."_s;
        remaining("a day", 86400) << u"1 дн."_s;
        remaining("largest", kMax) << u"%1 дн."_s.arg(kMax / 86400);
    }
    void formats()
    {
        QFETCH(QString, shown);
        QTEST(shown, "text");
    }

    // A desktop session sets the C library's numbers to the user's locale; the texts
    // keep their full stop.
    void numbersIgnoreTheProcessLocale()
    {
        const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
        if (!std::setlocale(LC_NUMERIC, "ru_RU.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
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
        QTest::newRow("at the current second") << noon << in(0) << u"истекла"_s;
        QTest::newRow("later in the current second") << noon.addMSecs(600) << in(0) << u"истекла"_s;
        QTest::newRow("23 hours") << noon << in(23 * 3600) << u"сегодня"_s;
        QTest::newRow("across local midnight") << berlin(3, 5, 23) << on(berlin(3, 6, 1)) << u"сегодня"_s;
        QTest::newRow("a 23-hour day") << berlin(3, 29, 12) << on(berlin(3, 30, 12)) << u"осталось 1 дн."_s;
        QTest::newRow("24.5 hours over a 25-hour day") << berlin(10, 25, 12) << on(berlin(10, 26, 11, 30))
                                                         << u"сегодня"_s;
        QTest::newRow("past the calendar") << noon << std::optional(kMax)
                                           << u"осталось %1 дн."_s.arg((kMax - at) / 86400);
    }
    void expiry()
    {
        QFETCH(QDateTime, now);
        QFETCH(std::optional<qint64>, expireUnix);
        const test::ManualClock clock(now, kBerlin);
        QTEST(SubscriptionFormat::expiry(expireUnix, clock), "text");
    }

    void usage_data()
    {
        QTest::addColumn<qint64>("used");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<SubscriptionUsage>("usage");
        using T = UsageTint::Value;
        QTest::newRow("below orange") << qint64(8499) << qint64(10000) << SubscriptionUsage{0.8499, T::Accent, 84};
        QTest::newRow("orange") << qint64(85) << qint64(100) << SubscriptionUsage{0.85, T::Warning, 85};
        QTest::newRow("all used") << qint64(100) << qint64(100) << SubscriptionUsage{1, T::Danger, 100};
        QTest::newRow("over the limit") << kMax << qint64(1) << SubscriptionUsage{1, T::Danger, 100};
        // No limit is not a full bar.
        QTest::newRow("no limit") << 50 * kGiB << qint64(0) << SubscriptionUsage{0, T::Accent, 0};
        QTest::newRow("negative limit") << qint64(5) << qint64(-1) << SubscriptionUsage{0, T::Accent, 0};
    }
    void usage()
    {
        QFETCH(qint64, used);
        QFETCH(qint64, limit);
        QTEST(SubscriptionUsage::of(used, limit), "usage");
    }

    // What the waiting view shows, by phase, attempt and the subscription, in Moscow
    // time (22:30 UTC on 4 March is already 5 March there). An abbreviated month and
    // the sentence share one full stop.
    void waitingContent_data()
    {
        QTest::addColumn<int>("phase");
        QTest::addColumn<int>("attempt");
        QTest::addColumn<std::optional<SubscriptionOut>>("latest");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("attemptText");
        QTest::addColumn<QString>("subtitle"); // checked when given
        const qint64 march4Late = QDateTime(QDate(2025, 3, 4), QTime(22, 30), Qt::UTC).toSecsSinceEpoch();
        const qint64 may5 = QDateTime(QDate(2025, 5, 5), QTime(9, 0), Qt::UTC).toSecsSinceEpoch();
        const auto sub = [](std::optional<qint64> expire) { return std::optional(test::PaymentWaitRig::active(expire)); };
        const std::optional<SubscriptionOut> none;
        const int spinner = PaymentWaitingIcon::Spinner, check = PaymentWaitingIcon::Checkmark;
        const auto row = [](const char *tag, Phase phase, int attempt, const std::optional<SubscriptionOut> &latest,
                            int icon, const QString &attemptText, const QString &subtitle) {
            QTest::newRow(tag) << int(phase) << attempt << latest << icon << attemptText << subtitle;
        };
        row("idle", Phase::idle, 3, none, spinner, {}, kWaiting);
        row("before the first poll", Phase::waiting, 0, none, spinner, {}, kWaiting);
        row("first poll", Phase::waiting, 1, none, spinner, u"Проверяем начисление… (попытка 1)"_s, kWaiting);
        row("confirmed until a day", Phase::confirmed, 2, sub(march4Late), check, {},
            u"Подписка активна до 5 мар. Можно подключаться!"_s);
        row("confirmed until a month written whole", Phase::confirmed, 2, sub(may5), check, {},
            u"Подписка активна до 5 мая. Можно подключаться!"_s);
        row("confirmed without an end", Phase::confirmed, 2, sub(std::nullopt), check, {}, kActivated);
        row("confirmed past the calendar", Phase::confirmed, 2, sub(std::numeric_limits<qint64>::max()), check, {},
            kActivated);
        row("timed out", Phase::timedOut, 40, none, PaymentWaitingIcon::Clock, {}, {});
    }
    void waitingContent()
    {
        QFETCH(int, phase);
        QFETCH(int, attempt);
        QFETCH(std::optional<SubscriptionOut>, latest);
        QFETCH(QString, attemptText);
        QFETCH(QString, subtitle);
        const auto content = PaymentWaitingContent::of(Phase(phase), attempt, latest, QTimeZone("Europe/Moscow"));
        QTEST(int(content.icon), "icon");
        QCOMPARE(content.showsAttempt, !attemptText.isEmpty());
        QCOMPARE(content.attemptText(), attemptText);
        QCOMPARE(content.attemptNumber, attemptText.isEmpty() ? QString() : QString::number(attempt));
        if (!subtitle.isEmpty())
            QCOMPARE(content.subtitle, subtitle);
    }

    // The presenter follows a real wait (its phases' texts are in the table above):
    // close only while waiting; timed out, refresh above close; refresh polls at once;
    // confirmed, done closes.
    void followsTheWait()
    {
        test::PaymentWaitRig rig(1);
        rig.replies->next = SubscriptionOut{u"https://sub.example/u"_s, u"expired"_s, 0, 0, std::nullopt, std::nullopt};
        AccountServices services;
        services.subscriptionStore = &rig.store;
        services.clock = rig.clock;
        const AccountScreens screens(services);
        std::unique_ptr<PaymentWaitingModel> model(screens.paymentWaiting(&rig.state));
        QSignalSpy closes(model.get(), &PaymentWaitingModel::close);

        rig.state.start();
        QCOMPARE(buttonsOf(model->content()), kClose);
        rig.clock->advance(3000ms);
        QTRY_COMPARE(model->icon(), int(PaymentWaitingIcon::Clock));
        QCOMPARE(buttonsOf(model->content()), u"Обновить:primary:refresh | "_s + kClose);
        rig.replies->next = test::PaymentWaitRig::active(rig.clock->nowSeconds() + 86400);
        model->trigger(PaymentWaitingAction::Refresh); // the clock stands still
        QTRY_COMPARE(model->icon(), int(PaymentWaitingIcon::Checkmark));
        QCOMPARE(buttonsOf(model->content()), u"Готово:primary:close"_s);
        model->trigger(PaymentWaitingAction::Close);
        QCOMPARE(closes.size(), 1);
    }

    void cardTexts_data()
    {
        QTest::addColumn<Tariff>("tariff");
        QTest::addColumn<std::optional<int>>("savings");
        QTest::addColumn<QStringList>("texts"); // months, price, quota, savings, stars, USDT
        QTest::newRow("rounds up at the third decimal")
            << Tariff{3, 499, 380, 3.456, 100} << std::optional(17)
            << QStringList{u"3 мес."_s, u"≈ 499 ₽"_s, u"100 ГБ / мес"_s, u"≈ −17%"_s, u"380"_s, u"3.46 USDT"_s};
        // 0.125 is an exact tie: to the even digit, as printf does.
        QTest::newRow("tie, large price") << Tariff{12, 12990, 10000, 0.125, 200} << std::optional(46)
                                          << QStringList{u"12 мес."_s, u"≈ 12990 ₽"_s, u"200 ГБ / мес"_s, u"≈ −46%"_s,
                                                         u"10000"_s, u"0.12 USDT"_s};
        QTest::newRow("one month, whole amount") << Tariff{1, 199, 150, 12, 100} << std::optional<int>()
                                                 << QStringList{u"1 мес."_s, u"≈ 199 ₽"_s, u"100 ГБ / мес"_s, QString(),
                                                                u"150"_s, u"12.00 USDT"_s};
    }
    void cardTexts()
    {
        QFETCH(Tariff, tariff);
        QFETCH(std::optional<int>, savings);
        const TariffCardTexts t = TariffCardTexts::of({u"plan"_s, tariff}, savings);
        QTEST((QStringList{t.months, t.price, t.quota, t.savings, t.stars, t.usdt}), "texts");
    }
};

QTEST_GUILESS_MAIN(AccountTextsTest)
#include "tst_account_texts.moc"
