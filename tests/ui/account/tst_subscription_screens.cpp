#include "ui/account/AccountScreens.h"
#include "ui/account/SubscriptionCallToAction.h"
#include "ui/account/SubscriptionDetailModel.h"
#include "ui/account/SubscriptionStatusPill.h"
#include "ui/account/SubscriptionStripModel.h"

#include "core/APIError.h"

#include <QSignalSpy>
#include <QTest>

#include "support/Await.h"
#include "support/ManualClock.h"

#include "PaymentFakes.h"

#include <limits>

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using Pill = SubscriptionStatusPill;
using Detail = SubscriptionDetailModel;
using OptionalSubscription = std::optional<SubscriptionOut>;
using State = SubscriptionStripState::Value;
Q_DECLARE_METATYPE(std::optional<kovra::SubscriptionOut>)
Q_DECLARE_METATYPE(std::exception_ptr)

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();
const QString kLink = u"https://sub.example/u/9f2c"_s;
// 2025-03-05 12:00 UTC, shown in Moscow (UTC+3).
const qint64 kNow = 1741176000;

struct RecordingClipboard final : Clipboard {
    QStringList texts;
    void setPlainText(const QString &text) override { texts << text; }
};

OptionalSubscription subscription(const QString &status, const QString &url, std::optional<qint64> expireUnix,
                                  qint64 limit = 10, qint64 used = 5)
{
    return SubscriptionOut{url, status, limit, used, expireUnix, std::nullopt};
}

struct DetailRig {
    std::shared_ptr<test::ManualClock> clock = std::make_shared<test::ManualClock>(
        QDateTime::fromSecsSinceEpoch(kNow, Qt::UTC), QTimeZone("Europe/Moscow"));
    std::shared_ptr<RecordingClipboard> clipboard = std::make_shared<RecordingClipboard>();

    AccountServices services() const
    {
        AccountServices s;
        s.clock = clock;
        s.clipboard = clipboard;
        return s;
    }
    std::unique_ptr<Detail> detail(OptionalSubscription sub) const
    {
        return std::make_unique<Detail>(std::move(sub), services(), nullptr);
    }
    std::unique_ptr<SubscriptionStripModel> strip(SubscriptionStripInputs inputs) const
    {
        auto strip = std::make_unique<SubscriptionStripModel>(AccountScreens(services()));
        strip->setInputs(std::move(inputs));
        return strip;
    }
};

// "title|symbol" of each copy control, then whether it is marked copied.
QString labels(const Detail &d)
{
    QStringList out;
    for (const QVariantMap &l : {d.accountIdCopy(), d.linkCopy(), d.shareCopy()})
        out << l.value(u"title"_s).toString() + u"|"_s + l.value(u"symbol"_s).toString();
    return out.join(u", "_s);
}

} // namespace

class SubscriptionScreensTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Which sections and rows the detail screen shows, and their texts, over the
    // subscription's shapes; the clock's zone writes the end date.
    void detailContent_data()
    {
        QTest::addColumn<OptionalSubscription>("sub");
        QTest::addColumn<int>("pill"); // -1: no subscription sections
        QTest::addColumn<QString>("percent");
        QTest::addColumn<QString>("dates"); // "expires | remaining"
        QTest::addColumn<QString>("linkRows"); // "", "copy", "copy+share"
        QTest::addColumn<QString>("buy");
        const auto row = [](const char *tag, const OptionalSubscription &sub, int pill, const QString &percent,
                            const QString &dates, const QString &linkRows, const QString &buy) {
            QTest::newRow(tag) << sub << pill << percent << dates << linkRows << buy;
        };
        const std::optional<qint64> never;
        const qint64 ahead = kNow + 2 * 86400 + 15 * 3600; // 8 March 03:00 UTC
        const QString buy = u"Купить подписку"_s, renew = u"Продлить подписку"_s, half = u"Использовано 50%"_s;
        const QString soon = u"8 мар. 2025 г., 06:00 | 2 дн."_s, both = u"copy+share"_s;
        row("none", {}, -1, {}, u" | "_s, {}, buy);
        row("active, link, future", subscription(u"active"_s, kLink, ahead, 1000, 870), Pill::Active,
            u"Использовано 87%"_s, soon, both, renew);
        row("active, no expiry, no limit", subscription(u"active"_s, kLink, never, 0, kMax), Pill::Active,
            u"Использовано 0%"_s, u"без срока | без срока"_s, both, renew);
        row("link that is no URL", subscription(u"active"_s, u"https://sub example/u"_s, ahead), Pill::Active, half,
            soon, u"copy"_s, renew);
        row("active, empty link", subscription(u"active"_s, QString(), ahead), Pill::Active, half, soon, {}, buy);
        row("traffic used up", subscription(u"active"_s, kLink, ahead, 10, 10), Pill::NoTraffic,
            u"Использовано 100%"_s, soon, both, u"Пополнить трафик"_s);
        row("status differs in case", subscription(u"Active"_s, kLink, ahead), Pill::Inactive, half, soon, {}, buy);
        row("another status", subscription(u"disabled"_s, kLink, ahead), Pill::Inactive, half, soon, {}, buy);
        row("past, traffic used up", subscription(u"active"_s, kLink, kNow - 86400, 10, 12), Pill::Expired,
            u"Использовано 100%"_s, u"4 мар. 2025 г., 15:00 | истекла"_s, both, renew);
        row("largest expiry", subscription(u"active"_s, kLink, kMax), Pill::Active, half,
            u"— | %1 дн."_s.arg((kMax - kNow) / 86400), both, renew);
        row("smallest expiry", subscription(u"active"_s, kLink, kMin), Pill::Expired, half, u"— | истекла"_s, both,
            renew);
    }
    void detailContent()
    {
        QFETCH(OptionalSubscription, sub);
        QFETCH(QString, linkRows);
        const DetailRig rig;
        const auto d = rig.detail(sub);
        const SubscriptionDetailContent &c = d->content();
        QTEST(c.hasSubscription ? c.pillStyle : -1, "pill");
        QTEST(c.usedPercent, "percent");
        QTEST(c.expires + u" | "_s + c.remaining, "dates");
        QCOMPARE(c.showsLinkRows, !linkRows.isEmpty());
        QCOMPARE(c.showsShare, linkRows == u"copy+share"_s);
        QCOMPARE(c.supportFooter.isEmpty(), linkRows.isEmpty());
        QTEST(d->buyLink()->title(), "buy");
        QCOMPARE(d->buyLink()->page(), u"qrc:/qt/qml/Kovra/Account/BuyView.qml"_s);
    }

    // A payment (or a refresh, or the session's end) while the detail screen is open:
    // every row then shows what a screen opened on the store's new value would.
    void detailFollowsTheStore_data()
    {
        QTest::addColumn<OptionalSubscription>("before");
        QTest::addColumn<OptionalSubscription>("after"); // none: the store is cleared
        QTest::addColumn<QString>("shown");              // "traffic | remaining | buy"
        const qint64 gib = qint64(1) << 30;
        const OptionalSubscription trial = subscription(u"active"_s, kLink, kNow + 6 * 86400 + 3600, gib / 5, 0);
        const OptionalSubscription paid =
            subscription(u"active"_s, kLink + u"-paid"_s, kNow + 36 * 86400 + 3600, 100 * gib, 0);
        const QString paidRows = u"0.0 / 100.0 ГБ | 36 дн. | Продлить подписку"_s;
        QTest::newRow("paid during the trial") << trial << paid << paidRows;
        QTest::newRow("first subscription") << OptionalSubscription() << paid << paidRows;
        QTest::newRow("session ended") << trial << OptionalSubscription() << u" |  | Купить подписку"_s;
    }
    void detailFollowsTheStore()
    {
        QFETCH(OptionalSubscription, before);
        QFETCH(OptionalSubscription, after);
        const DetailRig rig;
        const auto replies = std::make_shared<test::ScriptedSubscriptions>();
        SubscriptionStore store(replies, AppGroupStore(Defaults::inMemory(), nullptr), nullptr, {rig.clock});
        const auto load = [&](const OptionalSubscription &sub) {
            replies->next = sub;
            test::await(store.refresh());
        };
        if (before)
            load(before);
        AccountServices services = rig.services();
        services.subscriptionStore = &store;
        Detail d(store.latest(), services, nullptr);
        d.setShown(true);
        QSignalSpy changes(&d, &Detail::contentChanged);

        if (after)
            load(after);
        else
            store.clear();
        QCOMPARE(changes.size(), 1);
        QVERIFY(d.content() == SubscriptionDetailContent::of(after, std::nullopt, *rig.clock));
        QCOMPARE(d.hasSubscription(), after.has_value());
        QTEST(d.trafficText() + u" | "_s + d.remainingText() + u" | "_s + d.buyLink()->title(), "shown");
        d.copySubscriptionLink();
        QCOMPARE(rig.clipboard->texts, after ? QStringList{after->subscriptionUrl} : QStringList());
    }

    // Each control copies the text and keeps its own mark until 1.8 s after its last
    // press; leaving the screen ends every mark at once and leaves nothing pending.
    void copyMarks()
    {
        const DetailRig rig;
        auto d = rig.detail(subscription(u"active"_s, kLink, std::nullopt));
        d->setShown(true);
        const QString idle = u"Копировать|doc.on.doc, Скопировать подписку|doc.on.doc, "
                             u"Поделиться подпиской|square.and.arrow.up"_s;
        QCOMPARE(labels(*d), idle);
        d->copyAccountID(); // no user record: no row, nothing copied
        d->copySubscriptionLink();
        rig.clock->advance(1000ms);
        d->copySubscriptionLink();
        rig.clock->advance(500ms);
        d->shareSubscriptionLink();
        QCOMPARE(rig.clipboard->texts, QStringList({kLink, kLink, kLink}));
        const QString both = u"Копировать|doc.on.doc, Скопировано|checkmark, Скопировано|checkmark"_s;
        QCOMPARE(labels(*d), both);
        rig.clock->advance(1299ms); // 2.8 s after the first press
        QCOMPARE(labels(*d), both);
        rig.clock->advance(1ms);
        QCOMPARE(labels(*d), u"Копировать|doc.on.doc, Скопировать подписку|doc.on.doc, Скопировано|checkmark"_s);
        rig.clock->advance(500ms);
        QCOMPARE(labels(*d), idle);

        d->copySubscriptionLink();
        QSignalSpy changes(d.get(), &Detail::copiedChanged);
        d->setShown(false);
        QCOMPARE(labels(*d), idle);
        QCOMPARE(rig.clock->pendingTimers(), 0);
        d.reset();
        rig.clock->advance(2s);
        QCOMPARE(changes.size(), 1);
    }

    // The card's content over subscription x loading x error: a known subscription is
    // never blanked by a refresh or its failure; the error's text is the user's one.
    void stripState_data()
    {
        QTest::addColumn<OptionalSubscription>("sub");
        QTest::addColumn<bool>("loading");
        QTest::addColumn<std::exception_ptr>("error");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("errorText");
        const OptionalSubscription sub = subscription(u"active"_s, kLink, std::nullopt), none;
        const auto server = std::make_exception_ptr(APIError::server(502));
        const auto other = std::make_exception_ptr(std::runtime_error("disk full"));
        const std::exception_ptr ok;
        QTest::newRow("loaded, refreshing, failed") << sub << true << server << int(State::Loaded) << QString();
        QTest::newRow("loaded") << sub << false << ok << int(State::Loaded) << QString();
        QTest::newRow("loading over an error") << none << true << server << int(State::Loading) << QString();
        QTest::newRow("API error") << none << false << server << int(State::Failed) << u"Ошибка сервера (502)."_s;
        QTest::newRow("other error") << none << false << other << int(State::Failed) << u"disk full"_s;
        QTest::newRow("empty") << none << false << ok << int(State::Empty) << QString();
    }
    void stripState()
    {
        QFETCH(OptionalSubscription, sub);
        QFETCH(bool, loading);
        QFETCH(std::exception_ptr, error);
        const auto strip = DetailRig().strip({sub, loading, error});
        QTEST(strip->state(), "state");
        QCOMPARE(strip->hasSubscription(), sub.has_value());
        if (strip->state() == State::Failed)
            QTEST(strip->errorText(), "errorText");
    }

    // The card's call to action over subscription shapes, with and without Telegram
    // (then always the settings screen), and the bar it draws.
    void stripCallToAction_data()
    {
        QTest::addColumn<OptionalSubscription>("sub");
        QTest::addColumn<QString>("title"); // with Telegram; empty: no button
        QTest::addColumn<double>("fraction");
        QTest::addColumn<int>("tint");
        const qint64 ahead = kNow + 86400;
        const auto row = [](const char *tag, const OptionalSubscription &sub, const QString &title, double fraction,
                            UsageTint::Value tint) { QTest::newRow(tag) << sub << title << fraction << int(tint); };
        const QString buy = u"Купить подписку"_s;
        row("active", subscription(u"active"_s, kLink, ahead, 100, 85), {}, 0.85, UsageTint::Warning);
        row("no limit", subscription(u"active"_s, kLink, ahead, 0, kMax), {}, 0.0, UsageTint::Accent);
        row("expired", subscription(u"active"_s, kLink, kNow, 100, 0), u"Продлить подписку"_s, 0.0, UsageTint::Accent);
        row("traffic used up", subscription(u"active"_s, kLink, ahead, 10, 11), u"Пополнить трафик"_s, 1.0,
            UsageTint::Danger);
        row("inactive", subscription(u"disabled"_s, kLink, ahead), buy, 0.5, UsageTint::Accent);
        row("active, empty link", subscription(u"active"_s, QString(), ahead), buy, 0.5, UsageTint::Accent);
    }
    void stripCallToAction()
    {
        QFETCH(OptionalSubscription, sub);
        QFETCH(QString, title);
        const DetailRig rig;
        for (const bool telegram : {true, false}) {
            const auto strip = rig.strip({sub, false, {}, telegram});
            QCOMPARE(strip->showsCallToAction(), !title.isEmpty());
            QTEST(strip->usageFraction(), "fraction");
            QTEST(strip->usageTint(), "tint");
            if (title.isEmpty())
                continue;
            const AccountPageLink *link = strip->callToActionLink();
            QCOMPARE(link->title(), telegram ? title : u"Привязать Telegram для оплаты"_s);
            QVERIFY(link->page().endsWith(telegram ? u"/BuyView.qml"_s : u"/SettingsView.qml"_s));
        }
    }
};

QTEST_GUILESS_MAIN(SubscriptionScreensTest)
#include "tst_subscription_screens.moc"
