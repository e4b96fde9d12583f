#pragma once

#include "platform/PlatformPaths.h"
#include "platform/SystemExtension.h"
#include "platform/TunnelManager.h"
#include "tunnel/SystemExtensionActivator.h"
#include "tunnel/TunnelController.h"

#include <QObject>
#include <QString>

namespace kovra {

// What the tunnel controller stands on, made once at start-up from the base folders
// and the socket override (the text of tunnelwire::kSocketOverrideVariable, empty when
// unset): the saved configurations, the provider check with its activator, both on the
// socket tunnelwire::socketPath(paths, socketOverride) names, and app-group handles
// below the folders. Owns them; must outlive the controller it equips.
//
//     TunnelEnvironment tunnel(PlatformPaths::fromEnvironment(),
//                              qEnvironmentVariable(tunnelwire::kSocketOverrideVariable));
//     TunnelController controller(tunnel.controllerOptions());
class TunnelEnvironment : public QObject {
    Q_OBJECT
public:
    TunnelEnvironment(PlatformPaths paths, const QString &socketOverride, QObject *parent = nullptr);
    ~TunnelEnvironment() override;

    const PlatformPaths &paths() const { return m_paths; }
    QString socketPath() const { return m_socketPath; }
    TunnelPreferences &preferences() { return m_preferences; }
    SystemExtensionActivator &activator() { return m_activator; }

    // Options with every required piece set to this environment's; the bounds keep
    // their product values.
    TunnelControllerOptions controllerOptions();

private:
    PlatformPaths m_paths;
    QString m_socketPath;
    TunnelPreferences m_preferences;
    ProviderActivationManager m_extensions;
    SystemExtensionActivator m_activator;
};

} // namespace kovra
