#include "GalleryCases.h"

#include "ui/main/ConnectCoordinator.h"
#include "catalog/ConnectionStore.h"
#include "catalog/ConnectionsService.h"
#include "catalog/EntriesService.h"
#include "catalog/EntryStore.h"
#include "connectivity/ConnectivityEngine.h"
#include "core/AppGroupStore.h"
#include "platform/SystemExtension.h"
#include "platform/TunnelManager.h"
#include "platform/TunnelWire.h"
#include "provider-kit/ProviderServer.h"
#include "tunnel/ProviderConfiguration.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"
#include "ui/main/HomeModel.h"

#include <QTemporaryDir>
#include <QTimer>

namespace kovra::gallery {

namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

// Answers each activation request with approval awaited, or as completed; queued.
class FixedActivation final : public QObject, public SystemExtensionManager {
public:
    FixedActivation(bool needsApproval, QObject *parent) : QObject(parent), m_needsApproval(needsApproval) {}
    void submitRequest(std::shared_ptr<SystemExtensionRequest> request) override
    {
        QTimer::singleShot(0, this, [request, approval = m_needsApproval] {
            if (approval)
                request->needUserApproval();
            else
                request->finish(SystemExtensionRequestResult::Completed);
        });
    }

private:
    bool m_needsApproval;
};

class FixedEngine final : public ConnectivityEngine {
public:
    FixedEngine(ConnectivityVerdict verdict, QObject *parent) : ConnectivityEngine(parent), m_verdict(verdict) {}
    ConnectivityVerdict verdict() const override { return m_verdict; }
    bool isResolving() const override { return false; }
    void handleTunnelStatus(VPNStatus) override {}

private:
    ConnectivityVerdict m_verdict;
};

// The built-in route and entry catalogues.
struct BuiltInCatalogue final : ConnectionsProviding, EntriesProviding {
    QCoro::Task<QList<Connection>> fetchConnections() override { co_return Connection::fallback(); }
    QCoro::Task<QList<Entry>> fetchEntries() override { co_return Entry::fallback(); }
};

// The home window's model over a scripted tunnel provider reporting `status` in a
// folder of its own, with the route through РФ-1 to Амстердам chosen.
class GalleryHome : public QObject {
public:
    GalleryHome(int status, ConnectivityVerdict verdict, bool needsApproval, QObject *parent)
        : QObject(parent),
          m_paths{m_folder.filePath(u"config"_s), m_folder.filePath(u"data"_s), m_folder.filePath(u"run"_s)},
          m_provider(tunnelwire::socketPath(m_paths, {}), this),
          m_preferences(TunnelPreferencesOptions::in(m_paths, m_provider.socketPath())),
          m_extensions(needsApproval, this),
          m_activator(m_extensions),
          m_tunnel({.preferences = &m_preferences, .activator = &m_activator, .appGroupFactory = [] {
                        return std::make_unique<AppGroupStore>(Defaults::inMemory(), nullptr);
                    }}),
          m_engine(verdict, this),
          m_defaults(Defaults::inMemory()),
          m_catalogue(std::make_shared<BuiltInCatalogue>()),
          m_entries(m_catalogue, chosenRoute()),
          m_connections(m_catalogue, AppGroupStore(m_defaults, nullptr), nullptr, &m_entries, nullptr, nullptr),
          m_coordinator(&m_tunnel, &m_engine, nullptr, nullptr,
                        ConnectCoordinator::Options{{.optimisticInterval = 1h, .errorDismissInterval = 1h}}),
          model(&m_coordinator, &m_engine, &m_tunnel, {.connections = &m_connections}, nullptr)
    {
        m_provider.setStatus(status);
        m_provider.listen();
        TunnelProviderManager *saved = m_preferences.createManager();
        saved->setProtocolConfiguration(TunnelProviderProtocol{kPacketTunnelBundleID, u"Kovra"_s, {}});
        saved->setEnabled(true);
        save(saved);
    }
    ConnectionHeroState *hero() const { return m_coordinator.hero(); }

private:
    AppGroupStore chosenRoute()
    {
        m_defaults->set(AppGroupKey::preferredEntry, u"ru-1"_s);
        m_defaults->set(AppGroupKey::selectedRegionID, u"nl"_s);
        return AppGroupStore(m_defaults, nullptr);
    }
    static QCoro::Task<void> save(TunnelProviderManager *manager)
    {
        try {
            co_await manager->saveToPreferences();
        } catch (...) {
        }
    }

    QTemporaryDir m_folder{u"/tmp/kovra-gallery-XXXXXX"_s};
    PlatformPaths m_paths;
    provider::ProviderServer m_provider;
    TunnelPreferences m_preferences;
    FixedActivation m_extensions;
    SystemExtensionActivator m_activator;
    TunnelController m_tunnel;
    FixedEngine m_engine;
    std::shared_ptr<Defaults> m_defaults;
    std::shared_ptr<BuiltInCatalogue> m_catalogue;
    EntryStore m_entries;
    ConnectionStore m_connections;
    ConnectCoordinator m_coordinator;

public:
    ui::HomeModel model;
};

GalleryCase home(const char *name, int status, ConnectivityVerdict verdict, bool needsApproval, bool startError)
{
    GalleryCase c{QString::fromLatin1(name), "HomeView { width: 900; height: 520 }"};
    // The provider's status, the activation and the banner's entrance settle meanwhile.
    c.settleMs = 1500;
    c.properties = [=](QObject *owner) {
        auto *fixture = new GalleryHome(status, verdict, needsApproval, owner);
        if (startError)
            fixture->hero()->showStartError(u"Подключение зависло. Попробуйте ещё раз."_s);
        return QVariantMap{{u"model"_s, QVariant::fromValue(&fixture->model)}};
    };
    return c;
}

} // namespace

QList<GalleryCase> homeGalleryCases()
{
    return {
        home("home-verified-approval", 3, ConnectivityVerdict::online, true, false),
        home("home-connecting-error", 2, ConnectivityVerdict::idle, false, true),
    };
}

} // namespace kovra::gallery
