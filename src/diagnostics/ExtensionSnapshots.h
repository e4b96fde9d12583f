#pragma once

#include "platform/AppGroupContainer.h"

#include <QDateTime>
#include <QString>

#include <optional>

namespace kovra {

// Read-only snapshots of what the tunnel provider leaves under "diagnostics/" in the app
// group's container. The files are opaque UTF-8 text, shown as they are. A missing
// container, a missing or unreadable file and bytes that are not UTF-8 all give no
// text. Synchronous; callable from any thread.

// The proxy configuration the provider fetched.
namespace FetchedConfigDiagnostics {
struct Snapshot {
    std::optional<QString> summary;         // config-summary.txt
    std::optional<QString> redactedConfig;  // config-fetched.json
    std::optional<QString> sanitizedConfig; // config-sanitized.json
    // The modification time of config-sanitized.json, else config-fetched.json, else
    // config-summary.txt: the first of them that has one.
    std::optional<QDateTime> modifiedAt;

    friend bool operator==(const Snapshot &, const Snapshot &) = default;
};
// None when there is no container or none of the three files has text.
std::optional<Snapshot> load(const AppGroupContainer &appGroup, const std::optional<QString> &containerPath = std::nullopt);
} // namespace FetchedConfigDiagnostics

// The provider's note about its last start.
namespace LastStartupDiagnostics {
struct Snapshot {
    QString text;
    std::optional<QDateTime> modifiedAt;

    friend bool operator==(const Snapshot &, const Snapshot &) = default;
};
// `containerPath`, when given, is used instead of the app group's container.
std::optional<Snapshot> load(const AppGroupContainer &appGroup, const std::optional<QString> &containerPath = std::nullopt);
} // namespace LastStartupDiagnostics

// The provider's note about its last failed start.
namespace LastStartupFailureDiagnostics {
using Snapshot = LastStartupDiagnostics::Snapshot;
std::optional<Snapshot> load(const AppGroupContainer &appGroup, const std::optional<QString> &containerPath = std::nullopt);
} // namespace LastStartupFailureDiagnostics

} // namespace kovra
