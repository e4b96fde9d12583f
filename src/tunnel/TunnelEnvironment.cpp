#include "tunnel/TunnelEnvironment.h"

#include "core/AppGroupStore.h"
#include "platform/TunnelWire.h"

namespace kovra {

TunnelEnvironment::TunnelEnvironment(PlatformPaths paths, const QString &socketOverride, QObject *parent)
    : QObject(parent), m_paths(std::move(paths)), m_socketPath(tunnelwire::socketPath(m_paths, socketOverride)),
      m_preferences(TunnelPreferencesOptions::in(m_paths, m_socketPath)), m_extensions(m_socketPath),
      m_activator(m_extensions)
{
}

TunnelEnvironment::~TunnelEnvironment() = default;

TunnelControllerOptions TunnelEnvironment::controllerOptions()
{
    TunnelControllerOptions options;
    options.preferences = &m_preferences;
    options.activator = &m_activator;
    options.appGroupFactory = [paths = m_paths] { return std::make_unique<AppGroupStore>(paths); };
    return options;
}

} // namespace kovra
