#include "GalleryCases.h"

#include "ui/account/BuyModel.h"
#include "ui/account/PaymentMethodSheet.h"
#include "ui/account/LinkedAccounts.h"
#include "ui/account/PaymentWaitingModel.h"
#include "ui/account/SettingsModel.h"
#include "ui/account/SubscriptionDetailModel.h"
#include "ui/account/SubscriptionStripModel.h"
#include "ui/account/SupportChecklistModel.h"
#include "ui/account/TariffCardTexts.h"

#include <QDateTime>

#include <stdexcept>

namespace kovra::gallery {

namespace {

GalleryCase pill(const char *name, const char *style)
{
    return {QString::fromLatin1(name), QByteArray("SubscriptionStatusPill { style: SubscriptionPillStyle.") + style + " }"};
}

GalleryCase usage(const char *name, double fraction, const char *tint)
{
    return {QString::fromLatin1(name),
            "UsageBar { width: 280; fraction: " + QByteArray::number(fraction) + "; tint: UsageTint." + tint + " }"};
}

using Phase = PaymentWaitingState::Phase;

GalleryCase waiting(const char *name, Phase phase, int attempt)
{
    // The check mark grows in over 0.4 s.
    GalleryCase c{QString::fromLatin1(name), "PaymentWaitingView { width: 460; height: 440 }",
                  phase == Phase::confirmed ? 500 : 0};
    c.properties = [phase, attempt](QObject *owner) {
        const qint64 expiry = QDateTime(QDate(2025, 3, 5), QTime(12, 0), Qt::UTC).toSecsSinceEpoch();
        const SubscriptionOut latest{QStringLiteral("https://sub.example/u"), QStringLiteral("active"), 0, 0, expiry,
                                     std::nullopt};
        auto *model = new ui::PaymentWaitingModel(
            ui::PaymentWaitingContent::of(phase, attempt, latest, QTimeZone("Europe/Moscow")), owner);
        return QVariantMap{{QStringLiteral("model"), QVariant::fromValue(model)}};
    };
    return c;
}

GalleryCase tariffCard(const char *name, const Tariff &tariff, std::optional<int> savings, bool selected,
                       bool bestValue)
{
    GalleryCase c{QString::fromLatin1(name), "TariffCard { width: 420 }"};
    c.properties = [=](QObject *) {
        return ui::TariffCardTexts::of({QStringLiteral("plan"), tariff}, savings).cardProperties(selected, bestValue);
    };
    return c;
}

using Method = ui::PaymentMethodSheet::Method;

// The payment sheet's chooser at the sheet's minimum size (below the chrome's header).
GalleryCase paymentChooser(const char *name, Method selected, const QString &error, bool paying)
{
    GalleryCase c{QString::fromLatin1(name),
                  "Rectangle { width: 420; height: 470; color: Brand.background\n"
                  " required property var texts\n"
                  " PaymentMethodChooser { anchors.fill: parent; title: texts.title; subtitle: texts.subtitle\n"
                  "  methods: texts.methods; isPaying: texts.isPaying; payTitle: texts.payTitle;"
                  " errorText: texts.errorText } }"};
    c.properties = [=](QObject *) {
        using Sheet = ui::PaymentMethodSheet;
        const Tariff plan{3, 549, 420, 6.456, 100};
        const Sheet sheet({QStringLiteral("plan"), plan}, {});
        return QVariantMap{{QStringLiteral("texts"),
                            QVariantMap{{QStringLiteral("title"), sheet.title()},
                                        {QStringLiteral("subtitle"), Sheet::subtitle(plan)},
                                        {QStringLiteral("methods"), Sheet::rows(plan, selected)},
                                        {QStringLiteral("isPaying"), paying},
                                        {QStringLiteral("payTitle"), Sheet::payTitle(paying)},
                                        {QStringLiteral("errorText"), error}}}};
    };
    return c;
}

ui::AccountLinks galleryLinks()
{
    return {QStringLiteral("kovra_support_bot"), QUrl(QStringLiteral("https://t.me/kovra_support_bot")),
            QUrl(QStringLiteral("https://kovra.app/privacy"))};
}

// The settings screen without stores (every method unlinked, no Apple sign-in here)
// over preferences holding `stored`.
GalleryCase settings(const char *name, QVariantMap stored = {})
{
    GalleryCase c{QString::fromLatin1(name), "SettingsView { width: 460; height: 1130 }"};
    c.properties = [stored](QObject *owner) {
        ui::AccountServices services;
        services.links = galleryLinks();
        services.appGroup = AppGroupStore(Defaults::inMemory(), nullptr);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            services.appGroup->defaults()->setObject(it.key(), it.value());
        auto *model = new ui::SettingsModel(services, ui::SettingsAbout::of(QStringLiteral("1.4.0"), QString()), owner);
        return QVariantMap{{QStringLiteral("model"), QVariant::fromValue(model)}};
    };
    return c;
}

// A part of the tariff screen with the screen's own texts (`buy`: a model without
// services) and, where given, the plans of `spec` ("months/rub/quota ...").
GalleryCase buyPart(const char *name, const QByteArray &qml, const QString &spec = {})
{
    GalleryCase c{QString::fromLatin1(name), "Item { id: root; required property var buy; property var plans; property var features\n" + qml + " }"};
    c.properties = [spec](QObject *owner) {
        auto *buy = new ui::BuyModel(ui::AccountServices{}, owner);
        auto *plans = new ui::TariffListModel(owner);
        QList<ui::TariffEntry> entries;
        for (const QString &plan : spec.split(u' ', Qt::SkipEmptyParts)) {
            const QStringList p = plan.split(u'/');
            const qint64 months = p[0].toLongLong();
            entries.append({p[0], {months, p[1].toLongLong(), 150 * months, 2.5 * double(months), p[2].toLongLong()}});
        }
        plans->setEntries(entries, ui::selectionAfterLoad(entries, std::nullopt));
        return QVariantMap{{QStringLiteral("buy"), QVariant::fromValue(buy)},
                           {QStringLiteral("plans"), QVariant::fromValue(plans)},
                           {QStringLiteral("features"), ui::includedFeatures(entries)}};
    };
    return c;
}

// Subscriptions whose texts do not depend on the day: no expiry, or one long past.
SubscriptionOut gallerySubscription(const char *status, std::optional<qint64> expireUnix)
{
    return {QStringLiteral("https://sub.example/u/9f2c"), QString::fromLatin1(status), qint64(10) << 30,
            qint64(9) << 30, expireUnix, std::nullopt};
}

GalleryCase strip(const char *name, std::optional<SubscriptionOut> subscription, bool loading, bool failed)
{
    GalleryCase c{QString::fromLatin1(name), "SubscriptionStrip { width: 400 }", 300};
    c.properties = [=](QObject *owner) {
        auto *model = new ui::SubscriptionStripModel(ui::AccountScreens(ui::AccountServices()), owner);
        const std::exception_ptr error =
            failed ? std::make_exception_ptr(std::runtime_error("Нет связи с сервером.")) : std::exception_ptr();
        model->setInputs({subscription, loading, error});
        return QVariantMap{{QStringLiteral("model"), QVariant::fromValue(model)}};
    };
    return c;
}

GalleryCase detail(const char *name, std::optional<SubscriptionOut> subscription)
{
    GalleryCase c{QString::fromLatin1(name), "SubscriptionDetailView { width: 460; height: 760 }"};
    c.properties = [=](QObject *owner) {
        ui::AccountServices services;
        services.links = galleryLinks();
        auto *model = ui::AccountScreens(services).subscriptionDetail(subscription, owner);
        return QVariantMap{{QStringLiteral("model"), QVariant::fromValue(model)}};
    };
    return c;
}

} // namespace

QList<GalleryCase> accountGalleryCases()
{
    QList<GalleryCase> cases;
    cases.append(pill("subscription-pill-active", "Active"));
    cases.append(pill("subscription-pill-expired", "Expired"));
    cases.append(pill("subscription-pill-no-traffic", "NoTraffic"));
    cases.append(pill("subscription-pill-inactive", "Inactive"));
    cases.append(usage("usage-bar-empty", 0, "Accent"));
    cases.append(usage("usage-bar-accent", 0.42, "Accent"));
    cases.append(usage("usage-bar-warning", 0.9, "Warning"));
    cases.append(usage("usage-bar-danger", 1, "Danger"));
    cases.append({QStringLiteral("inset-section"),
                  "ColumnLayout { width: 380; spacing: 16\n"
                  " InsetSection { header: \"Аккаунт\"\n"
                  "  InsetRow { title: \"Telegram\"; value: \"Подключён\"; symbol: \"paperplane.fill\" }\n"
                  "  InsetRow { title: \"Apple ID\"; value: \"user@example.com\"; symbol: \"applelogo\" }\n"
                  "  InsetRow { title: \"Привязать Google\"; symbol: \"g.circle.fill\"; interactive: true } }\n"
                  " InsetSection { header: \"Поддержка\"; footer: \"Ответим в течение дня.\"\n"
                  "  InsetRow { title: \"Написать в поддержку\"; symbol: \"paperplane.fill\"; interactive: true }\n"
                  "  InsetRow { title: \"Не работает VPN?\"; symbol: \"questionmark.circle\"; showsChevron: true;"
                  " interactive: true } }\n"
                  " InsetSection {\n"
                  "  InsetRow { title: \"Выйти из аккаунта\"; symbol: \"rectangle.portrait.and.arrow.right\";"
                  " titleColor: Brand.danger; symbolColor: Brand.danger; interactive: true } } }"});
    cases.append(waiting("payment-waiting", Phase::waiting, 0));
    cases.append(waiting("payment-waiting-attempt", Phase::waiting, 12));
    cases.append(waiting("payment-confirmed", Phase::confirmed, 3));
    cases.append(waiting("payment-timed-out", Phase::timedOut, 40));
    cases.append(tariffCard("tariff-card-one-month", {1, 199, 150, 2.5, 100}, std::nullopt, false, false));
    cases.append(tariffCard("tariff-card-best-selected", {12, 1790, 1400, 19.9, 200}, 25, true, true));
    cases.append(tariffCard("tariff-card-saving", {3, 549, 420, 6.456, 100}, 8, false, false));
    cases.append(paymentChooser("payment-method-chooser", Method::stars, {}, false));
    cases.append(paymentChooser("payment-method-error", Method::crypto, QStringLiteral("Нет связи с сервером."), false));
    cases.append(paymentChooser("payment-method-paying", Method::stars, {}, true));
    cases.append(settings("settings"));
    // Only blocked resources (the Russian-sites switch dimmed) and a time the picker
    // does not offer.
    cases.append(settings("settings-blocked-only-custom-time",
                          {{AppGroupKey::blockedOnly, true}, {AppGroupKey::autoDisconnectMinutes, 25}}));
    GalleryCase rows{QStringLiteral("settings-linked-rows"),
                     "ColumnLayout { width: 420; property var rows\n"
                     " InsetSection { header: \"Аккаунт\"\n"
                     "  LinkedAccountRowView { row: rows[0] }\n  LinkedAccountRowView { row: rows[1] }\n"
                     "  LinkedAccountRowView { row: rows[2] } } }"};
    rows.properties = [](QObject *) {
        MeOut me;
        me.hasTelegram = me.hasApple = true;
        me.appleEmail = QStringLiteral("anna@example.com");
        QVariantList list;
        for (const ui::LinkedAccountRow &row : ui::LinkedAccountRow::of(me, {false, true, false}, true, true))
            list << row.toVariant();
        return QVariantMap{{QStringLiteral("rows"), list}};
    };
    cases.append(rows);
    // Opened once the box is in its window (the dialog opens over the window).
    cases.append({QStringLiteral("sign-out-dialog"),
                  "Item { width: 420; height: 320\n"
                  " ConfirmationDialog { id: dialog; title: \"Выйти из аккаунта?\"; actionTitle: \"Выйти\"\n"
                  "  cancelTitle: \"Отмена\"\n"
                  "  message: \"Соединение будет разорвано, потребуется заново войти через Apple или Google.\" }\n"
                  " Timer { interval: 1; running: true; onTriggered: dialog.open() } }",
                  200});
    GalleryCase checklist{QStringLiteral("support-checklist"), "SupportChecklistView { width: 460; height: 420 }"};
    checklist.properties = [](QObject *owner) {
        auto *model = new ui::SupportChecklistModel(nullptr, galleryLinks(), owner);
        return QVariantMap{{QStringLiteral("model"), QVariant::fromValue(model)}};
    };
    cases.append(checklist);
    const char *columnOf = "width: 460; height: col.implicitHeight + 32\n ColumnLayout { id: col; x: 24; y: 16; width: 412; spacing: 24\n";
    cases.append(buyPart("tariff-gate", QByteArray(columnOf) +
                         "  TelegramGateCard { title: buy.texts.gateTitle; reason: buy.texts.gateReason;"
                         " actionTitle: buy.texts.gateAction } }"));
    cases.append(buyPart("tariff-placeholder", QByteArray(columnOf) + "  TariffPlaceholder { label: buy.texts.loading } }"));
    cases.append(buyPart("tariff-error", QByteArray(columnOf) +
                         "  TariffErrorCard { title: buy.texts.loadError; retryTitle: buy.texts.retry;"
                         " errorText: \"Сервер ответил с ошибкой (код 502).\" } }"));
    cases.append(buyPart("tariff-list",
                         "width: 460; height: 760\n"
                         " ListView { x: 0; y: 16; width: 460; height: 744; spacing: 16; model: root.plans\n"
                         "  delegate: Item { required property var card; width: 460; height: b.implicitHeight\n"
                         "   TariffButton { id: b; x: 24; width: 412; card: parent.card } } }",
                         QStringLiteral("1/299/50 3/799/100 6/1499/150 12/2399/200")));
    cases.append(buyPart("tariff-features", QByteArray(columnOf) + "  IncludedFeaturesCard { features: root.features } }",
                         QStringLiteral("1/299/50")));
    cases.append(buyPart("tariff-continue-bar",
                         "width: 460; height: 200\n"
                         " ContinueBar { y: 0; width: 460; title: \"Перейти к оплате · ≈ 1490 ₽\"; canContinue: true }\n"
                         " ContinueBar { y: 110; width: 460; title: buy.continueTitle }"));
    cases.append(strip("subscription-card", gallerySubscription("active", std::nullopt), true, false));
    cases.append(strip("subscription-card-expired", gallerySubscription("active", 1700000000), false, false));
    cases.append(strip("subscription-card-loading", std::nullopt, true, false));
    cases.append(strip("subscription-card-error", std::nullopt, false, true));
    cases.append(strip("subscription-card-empty", std::nullopt, false, false));
    cases.append(detail("subscription-detail", gallerySubscription("active", 1700000000)));
    cases.append(detail("subscription-detail-empty", std::nullopt));
    return cases;
}

} // namespace kovra::gallery
