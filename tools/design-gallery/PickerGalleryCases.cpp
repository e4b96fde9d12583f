#include "GalleryCases.h"

#include "ui/main/ConnectionPickerSheet.h"

#include <QDateTime>

namespace kovra::gallery {

namespace {

using namespace Qt::StringLiterals;

// A catalogue that stays as it is given; nothing asked of it happens.
class FixedPickerCatalog final : public ui::PickerCatalog {
public:
    FixedPickerCatalog(ui::PickerCatalogState state, QObject *parent) : PickerCatalog(parent), m_state(std::move(state)) {}

    ui::PickerCatalogState state() const override { return m_state; }
    QCoro::Task<void> refreshConnections() override { co_return; }
    QCoro::Task<void> refreshRegions() override { co_return; }
    QCoro::Task<void> refreshEntries() override { co_return; }
    QCoro::Task<bool> selectConnection(Connection) override { co_return false; }
    QCoro::Task<bool> selectRegion(Region) override { co_return false; }
    QCoro::Task<void> wake(Region) override { co_return; }

private:
    ui::PickerCatalogState m_state;
};

Connection route(const char *id, ConnectionKind kind, const QString &flags, const QString &label,
                 RegionStatus status = RegionStatus::online)
{
    Connection c;
    c.id = QString::fromLatin1(id);
    c.kind = kind;
    c.flags = flags;
    c.label = label;
    c.status = status;
    return c;
}

Region server(const char *id, const QString &flag, const QString &name, RegionStatus status, RegionProvider provider)
{
    Region r;
    r.id = QString::fromLatin1(id);
    r.flag = flag;
    r.name = name;
    r.status = status;
    r.provider = std::move(provider);
    r.isEphemeral = true;
    return r;
}

ui::PickerCatalogState catalogue()
{
    ui::PickerCatalogState s;
    s.connections = {
        route("auto", ConnectionKind::automatic, u"⚡"_s, u"Авто"_s),
        route("nl", ConnectionKind::direct, u"🇳🇱"_s, u"Амстердам"_s),
        route("de", ConnectionKind::direct, u"🇩🇪"_s, u"Франкфурт"_s, RegionStatus::degraded),
        route("fi", ConnectionKind::direct, u"🇫🇮"_s, u"Хельсинки"_s, RegionStatus::offline),
        route("ru-1__nl", ConnectionKind::relay, u"🇷🇺 → 🇳🇱"_s, u"РФ-1 → Амстердам"_s),
    };
    s.regions = {
        server("us-aws", u"🇺🇸"_s, u"Вирджиния"_s, RegionStatus::online, RegionProvider::aws()),
        server("jp-gcp", u"🇯🇵"_s, u"Токио"_s, RegionStatus::stopped, RegionProvider::gcp()),
        server("sg", u"🇸🇬"_s, u"Сингапур"_s, RegionStatus::starting, RegionProvider::ztv()),
        server("br", u"🇧🇷"_s, u"Сан-Паулу"_s, RegionStatus::stopped, RegionProvider::other(u"hetzner"_s)),
    };
    s.currentConnectionID = u"nl"_s;
    s.selectedRegionID = u"nl"_s;
    s.waking = {u"jp-gcp"_s};
    s.wakeStartedAt = {{u"jp-gcp"_s, QDateTime::currentDateTimeUtc().addSecs(-45)}};
    return s;
}

GalleryCase picker(const char *name, std::function<void(ui::PickerCatalogState &)> adjust)
{
    // Tall enough for every line of the fixed catalogue.
    GalleryCase c{QString::fromLatin1(name), "ConnectionPickerSheet { width: 460; height: 860 }"};
    c.properties = [adjust](QObject *owner) {
        ui::PickerCatalogState state = catalogue();
        adjust(state);
        auto *catalog = new FixedPickerCatalog(std::move(state), owner);
        auto *model = new ui::ConnectionPickerSheet(catalog, nullptr, {}, owner);
        return QVariantMap{{u"model"_s, QVariant::fromValue(model)}};
    };
    return c;
}

} // namespace

QList<GalleryCase> pickerGalleryCases()
{
    return {
        picker("picker-list", [](ui::PickerCatalogState &) {}),
        picker("picker-stale", [](ui::PickerCatalogState &s) { s.connectionsFailed = true; }),
        picker("picker-loading", [](ui::PickerCatalogState &s) { s = {}, s.regionsLoading = true; }),
        picker("picker-empty", [](ui::PickerCatalogState &s) { s = {}, s.regionsFailed = true; }),
    };
}

} // namespace kovra::gallery
