#pragma once

#include <QString>

namespace kovra {

// The base folders the product keeps its files in. The start-up reads them once
// from the environment and hands them to whatever opens a file below them; tests
// build their own, so nothing needs to change the process environment.
struct PlatformPaths {
    QString configHome; // defaults suites, saved tunnel configurations
    QString dataHome;   // app-group containers
    QString runtimeDir; // the tunnel provider's socket

    // $XDG_CONFIG_HOME or ~/.config and $XDG_DATA_HOME or ~/.local/share (an unset or
    // relative variable gives the standard place below the home folder);
    // $XDG_RUNTIME_DIR, or Qt's runtime location when it is unset.
    static PlatformPaths fromEnvironment();

    // The product's own folders below them: <configHome>/kovra and <dataHome>/kovra.
    QString configFolder() const { return configHome + QStringLiteral("/kovra"); }
    QString dataFolder() const { return dataHome + QStringLiteral("/kovra"); }

    bool operator==(const PlatformPaths &) const = default;
};

} // namespace kovra
