#include "GalleryCases.h"

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
    return cases;
}

} // namespace kovra::gallery
