#include "ui/account/AccountScreens.h"
#include "ui/account/SubscriptionCallToAction.h"
#include "ui/account/SubscriptionDetailModel.h"
#include "ui/account/SubscriptionStatusPill.h"

#include <QSignalSpy>
#include <QTest>

#include "support/ManualClock.h"

#include <limits>

using namespace kovra;
using namespace kovra::ui;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

using Pill = SubscriptionStatusPill;
using Detail = SubscriptionDetailModel;
using OptionalSubscription = std::optional<SubscriptionOut>;
Q_DECLARE_METATYPE(std::optional<kovra::SubscriptionOut>)

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
        QTest::addColumn<QString>("expires");
        QTest::addColumn<QString>("remaining");
        QTest::addColumn<QString>("linkRows"); // "", "copy", "copy+share"
        QTest::addColumn<QString>("buy");
        const std::optional<qint64> never;
        const qint64 ahead = kNow + 2 * 86400 + 15 * 3600; // 8 March 03:00 UTC
        const QString buy = u"Купить подписку"_s, renew = u"Продлить подписку"_s;
        QTest::newRow("none") << OptionalSubscription() << -1 << QString() << QString() << QString() << QString()
                              << buy;
        QTest::newRow("active, link, future")
            << subscription(u"active"_s, kLink, ahead, 1000, 870) << int(Pill::Active) << u"Использовано 87%"_s
            << u"8 мар. 2025 г., 06:00"_s << u"осталось 2 дн."_s << u"copy+share"_s << renew;
        QTest::newRow("active, no expiry, no limit")
            << subscription(u"active"_s, kLink, never, 0, kMax) << int(Pill::Active) << u"Использовано 0%"_s
            << u"без срока"_s << u"без срока"_s << u"copy+share"_s << renew;
        QTest::newRow("link that is no URL")
            << subscription(u"active"_s, u"https://sub example/u"_s, ahead) << int(Pill::Active)
            << u"Использовано 50%"_s << u"8 мар. 2025 г., 06:00"_s << u"осталось 2 дн."_s << u"copy"_s << renew;
        QTest::newRow("active, empty link") << subscription(u"active"_s, QString(), ahead) << int(Pill::Active)
                                            << u"Использовано 50%"_s << u"8 мар. 2025 г., 06:00"_s
                                            << u"осталось 2 дн."_s << QString() << buy;
        QTest::newRow("another status") << subscription(u"disabled"_s, kLink, ahead) << int(Pill::Inactive)
                                        << u"Использовано 50%"_s << u"8 мар. 2025 г., 06:00"_s
                                        << u"осталось 2 дн."_s << QString() << buy;
        QTest::newRow("past, traffic used up")
            << subscription(u"active"_s, kLink, kNow - 86400, 10, 12) << int(Pill::Expired)
            << u"Использовано 100%"_s << u"4 мар. 2025 г., 15:00"_s << u"истекла"_s << u"copy+share"_s << renew;
        QTest::newRow("at the current second") << subscription(u"active"_s, kLink, kNow) << int(Pill::Expired)
                                               << u"Использовано 50%"_s << u"5 мар. 2025 г., 15:00"_s
                                               << u"истекла"_s << u"copy+share"_s << renew;
        QTest::newRow("largest expiry") << subscription(u"active"_s, kLink, kMax) << int(Pill::Active)
                                        << u"Использовано 50%"_s << u"—"_s
                                        << u"осталось %1 дн."_s.arg((kMax - kNow) / 86400) << u"copy+share"_s
                                        << renew;
        QTest::newRow("smallest expiry") << subscription(u"active"_s, kLink, kMin) << int(Pill::Expired)
                                         << u"Использовано 50%"_s << u"—"_s << u"истекла"_s << u"copy+share"_s
                                         << renew;
    }
    void detailContent()
    {
        QFETCH(OptionalSubscription, sub);
        QFETCH(QString, linkRows);
        const DetailRig rig;
        const auto d = rig.detail(sub);
        const SubscriptionDetailContent &c = d->content();
        QFETCH(int, pill);
        QCOMPARE(c.hasSubscription ? c.pillStyle : -1, pill);
        QTEST(c.usedPercent, "percent");
        QTEST(c.expires, "expires");
        QTEST(c.remaining, "remaining");
        QCOMPARE(c.showsLinkRows, !linkRows.isEmpty());
        QCOMPARE(c.showsShare, linkRows == u"copy+share"_s);
        QCOMPARE(c.supportFooter.isEmpty(), linkRows.isEmpty());
        QTEST(d->buyLink()->title(), "buy");
        QCOMPARE(d->buyLink()->page(), u"qrc:/qt/qml/Kovra/Account/BuyView.qml"_s);
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

    // With Telegram the tariff screen under the subscription's title; without, the
    // settings screen under its own, whatever the subscription.
    void callToAction_data()
    {
        QTest::addColumn<OptionalSubscription>("sub");
        QTest::addColumn<QString>("title");
        const QString link = kLink;
        QTest::newRow("expired") << subscription(u"active"_s, link, kNow - 1) << u"Продлить подписку"_s;
        QTest::newRow("traffic used up") << subscription(u"active"_s, link, kNow + 60, 10, 10)
                                         << u"Пополнить трафик"_s;
        QTest::newRow("inactive") << subscription(u"disabled"_s, link, std::nullopt) << u"Купить подписку"_s;
        QTest::newRow("active, no link") << subscription(u"active"_s, QString(), std::nullopt)
                                         << u"Купить подписку"_s;
    }
    void callToAction()
    {
        QFETCH(OptionalSubscription, sub);
        const DetailRig rig;
        const auto withTelegram = SubscriptionCallToAction::of(*sub, true, *rig.clock);
        QTEST(withTelegram.title, "title");
        QCOMPARE(withTelegram.pageFile(), u"BuyView.qml"_s);
        const auto without = SubscriptionCallToAction::of(*sub, false, *rig.clock);
        QCOMPARE(without.title, u"Привязать Telegram для оплаты"_s);
        QCOMPARE(without.pageFile(), u"SettingsView.qml"_s);
    }
};

QTEST_GUILESS_MAIN(SubscriptionScreensTest)
#include "tst_subscription_screens.moc"
