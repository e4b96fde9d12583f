#include "GalleryCases.h"

#include "ui/design/Symbols.h"

namespace kovra::gallery {

namespace {

QByteArray button(const char *kind, const char *extra)
{
    return QByteArray("BrandButton { text: \"Продолжить\"; kind: ButtonKind.") + kind + "; " + extra + " }";
}

QByteArray dot(const char *state, bool glow)
{
    return QByteArray("Row { spacing: 8\n BrandStatusDot { dotState: StatusDotState.") + state
        + "; size: 10; glow: " + (glow ? "true" : "false") + "; anchors.verticalCenter: parent.verticalCenter }\n"
        + " Text { text: \"" + state + "\"; font: Brand.headlineFont; color: Brand.textPrimary } }";
}

GalleryCase connectButton(const char *name, const char *visual, const char *extra = "", int settleMs = 0)
{
    return {QString::fromLatin1(name),
            QByteArray("ConnectButton { visual: ConnectButtonVisual.") + visual
                + "; accessibilityLabel: \"Подключение\"; " + extra + " }",
            settleMs};
}

GalleryCase notice(const char *name, const char *tone, const char *text, const char *extra = "")
{
    // Notices slide in when they appear; the picture shows them in place.
    return {QString::fromLatin1(name),
            QByteArray("BrandNotice { width: 420; tone: NoticeTone.") + tone + "; text: \"" + text + "\"; " + extra
                + " }",
            450};
}

QByteArray provider(const char *kind, const char *name = "")
{
    return QByteArray("Row { spacing: 6\n Text { text: \"[\"; color: Brand.textSecondary }\n"
                      " RegionProviderIcon { provider: ProviderKind.")
        + kind + "; providerName: \"" + name
        + "\"; anchors.verticalCenter: parent.verticalCenter }\n"
          " Text { text: \"] Франкфурт\"; font: Brand.subheadlineFont; color: Brand.textPrimary } }";
}

QByteArray symbolSheet()
{
    QByteArray rows;
    for (const QString &name : kovra::ui::Symbols::names())
        rows += "  Row { spacing: 8; SymbolIcon { name: \"" + name.toUtf8()
            + "\"; size: 20; color: Brand.textPrimary }\n"
              "        Text { text: \"" + name.toUtf8()
            + "\"; font: Brand.captionFont; color: Brand.textSecondary; anchors.verticalCenter: "
              "parent.verticalCenter } }\n";
    return "Grid { columns: 3; columnSpacing: 24; rowSpacing: 6\n" + rows + "}";
}

} // namespace

QByteArray galleryImports()
{
    return "import QtQuick\nimport QtQuick.Layouts\nimport Kovra.Design\nimport Kovra.Account\nimport Kovra.Main\n";
}

QList<GalleryCase> galleryCases()
{
    QList<GalleryCase> cases;
    for (const char *kind : {"Primary", "Secondary", "Destructive"}) {
        const QString k = QString::fromLatin1(kind).toLower();
        cases.append({QStringLiteral("button-%1").arg(k), button(kind, "")});
        cases.append({QStringLiteral("button-%1-pressed").arg(k), button(kind, "down: true")});
        cases.append({QStringLiteral("button-%1-disabled").arg(k), button(kind, "enabled: false")});
    }
    cases.append({QStringLiteral("button-full-width"),
                  "ColumnLayout { width: 360; BrandButton { text: \"Оплатить\"; fullWidth: true } }"});
    cases.append({QStringLiteral("pill-chrome"),
                  "BrandPillChrome { leftPadding: 16; rightPadding: 16; topPadding: 8; bottomPadding: 8\n"
                  " contentItem: Text { text: \"🇩🇪 Франкфурт\"; font: Brand.subheadlineFont; color: Brand.textPrimary } }"});
    cases.append({QStringLiteral("accent-tag"), "BrandAccentTag { text: \"Выгоднее всего\" }"});
    cases.append({QStringLiteral("backdrop"),
                  "Rectangle { width: 240; height: 80; color: \"transparent\"; border.color: Brand.separator\n"
                  " BrandBackdrop { anchors.fill: parent; anchors.margins: 1 }\n"
                  " Text { anchors.centerIn: parent; text: \"Фон окна\"; font: Brand.bodyFont; color: Brand.textPrimary } }"});
    for (const char *elevation : {"Card", "Button"}) {
        cases.append({QStringLiteral("card-%1").arg(QString::fromLatin1(elevation).toLower()),
                      QByteArray("BrandCard { width: 300; elevation: Elevation.") + elevation
                          + "\n ColumnLayout { spacing: 8\n"
                            "  Text { text: \"Подключение\"; font: Brand.withWeight(Brand.subheadlineFont, Font.DemiBold); color: Brand.textPrimary }\n"
                            "  FlagLabel { flags: \"🇳🇱\"; label: \"Амстердам\"; font: Brand.subheadlineFont } } }"});
    }
    cases.append({QStringLiteral("card-padding-8"),
                  "BrandCard { width: 300; padding: 8\n Text { text: \"Проба DNS — 42 ms\"; font: Brand.monoFont; color: Brand.textPrimary } }"});
    cases.append(notice("notice-info", "Info", "Переподключаемся к лучшему серверу…"));
    cases.append(notice("notice-warning", "Warning", "Подписка заканчивается через 3 дня"));
    cases.append(notice("notice-danger", "Danger", "Не удалось запустить VPN"));
    cases.append(notice("notice-custom-symbol", "Warning", "Системное расширение ждёт разрешения", "systemImage: \"hand.raised.fill\""));
    cases.append(notice("notice-long", "Info", "Сервер поднимается примерно за минуту после «Создать» и подключается "
                                 "автоматически. Можно закрыть это окно — подключение продолжится."));
    for (const char *state : {"Connected", "Transition", "Warning", "Danger", "Inactive"}) {
        const QString s = QString::fromLatin1(state).toLower();
        cases.append({QStringLiteral("status-dot-%1").arg(s), dot(state, false)});
        cases.append({QStringLiteral("status-dot-%1-glow").arg(s), dot(state, true)});
    }
    cases.append({QStringLiteral("skeleton-full-width"),
                  "ColumnLayout { width: 300; SkeletonBlock { blockHeight: 16 } }"});
    cases.append({QStringLiteral("skeleton-width-120"),
                  "ColumnLayout { width: 300; SkeletonBlock { blockWidth: 120; blockHeight: 16 } }"});
    const QByteArray rows = "ColumnLayout { width: 300; spacing: 2\n"
                            "  SkeletonBlock { blockWidth: 140; blockHeight: 16 }\n"
                            "  SkeletonBlock { blockWidth: 90; blockHeight: 12 } }";
    cases.append({QStringLiteral("shimmer"), "BrandShimmer { phase: 0.4; contentItem: " + rows + " }"});
    cases.append({QStringLiteral("shimmer-reduced-motion"),
                  "BrandShimmer { reduceMotion: true; contentItem: " + rows + " }"});
    cases.append(connectButton("connect-idle", "Idle"));
    cases.append(connectButton("connect-idle-disabled", "Idle", "canInteract: false"));
    cases.append(connectButton("connect-progress", "Progress", "", 500)); // the ring half way out
    cases.append(connectButton("connect-progress-reduced-motion", "Progress", "reduceMotion: true"));
    cases.append(connectButton("connect-checking", "ConnectedChecking"));
    cases.append(connectButton("connect-verified", "Verified", "", 500));
    cases.append(connectButton("connect-verified-reduced-motion", "Verified", "reduceMotion: true"));
    cases.append(connectButton("connect-failed", "Failed"));
    cases.append({QStringLiteral("flag-label"), "FlagLabel { flags: \"🇩🇪\"; label: \"Франкфурт\"; font: Brand.headlineFont }"});
    cases.append({QStringLiteral("flag-label-route"),
                  "FlagLabel { flags: \"🇷🇺 → 🇳🇱\"; label: \"Москва → Амстердам\"; font: Brand.subheadlineFont }"});
    cases.append({QStringLiteral("flag-label-no-flags"),
                  "FlagLabel { flags: \"\"; label: \"Авто\"; font: Brand.subheadlineFont }"});
    cases.append({QStringLiteral("provider-gcp"), provider("Gcp")});
    cases.append({QStringLiteral("provider-aws"), provider("Aws")});
    cases.append({QStringLiteral("provider-hiphosting"), provider("HipHosting")});
    cases.append({QStringLiteral("provider-ztv"), provider("Ztv")});
    cases.append({QStringLiteral("provider-other"), provider("Other", "hetzner")});
    cases.append({QStringLiteral("provider-absent"), provider("Absent")});
    cases.append({QStringLiteral("modal-chrome"),
                  "ModalChrome { width: 460; height: 160; title: \"Подключение\"\n"
                  " BrandBackdrop { anchors.fill: parent\n"
                  "  Text { anchors.centerIn: parent; text: \"Содержимое листа\"; font: Brand.bodyFont; color: Brand.textSecondary } } }"});
    cases.append({QStringLiteral("symbols"), symbolSheet()});
    cases.append(accountGalleryCases());
    cases.append(pickerGalleryCases());
    cases.append(homeGalleryCases());
    cases.append(rootGalleryCases());
    return cases;
}

} // namespace kovra::gallery
