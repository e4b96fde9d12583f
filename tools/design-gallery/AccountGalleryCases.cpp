#include "GalleryCases.h"

#include "ui/account/PaymentMethodSheet.h"
#include "ui/account/PaymentWaitingModel.h"
#include "ui/account/TariffCardTexts.h"

#include <QDateTime>

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
    return cases;
}

} // namespace kovra::gallery
