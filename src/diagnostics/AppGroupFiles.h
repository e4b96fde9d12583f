#pragma once

#include "platform/AppGroupContainer.h"

#include "platform/Log.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace kovra {

// Where the app and the tunnel provider leave diagnostics in the app group's container.
namespace DiagnosticsFiles {
inline const QString configSummary = QStringLiteral("diagnostics/config-summary.txt");
inline const QString configFetched = QStringLiteral("diagnostics/config-fetched.json");
inline const QString configSanitized = QStringLiteral("diagnostics/config-sanitized.json");
inline const QString lastStartup = QStringLiteral("diagnostics/last-startup.txt");
inline const QString lastStartupFailure = QStringLiteral("diagnostics/last-startup-failure.txt");
// Written by the app: the last connectivity self-test.
inline const QString connectivityLast = QStringLiteral("diagnostics/connectivity-last.txt");
} // namespace DiagnosticsFiles

// Text files in the app group's container. Synchronous, without shared state: callable
// from any thread.
namespace AppGroupFiles {

// The container: `containerPath` when given, else the app group's own folder; none when
// the app group names no usable folder.
std::optional<QString> container(const AppGroupContainer &appGroup, const std::optional<QString> &containerPath = std::nullopt);

// A text file read whole: present only when a regular file exists there, can be read
// and holds UTF-8 throughout.
struct TextFile {
    QString text;
    // The file's modification time, when the system reports one.
    std::optional<QDateTime> modifiedAt;
};
std::optional<TextFile> readText(const QString &containerPath, const QString &relativePath);
// The file's modification time, or none.
std::optional<QDateTime> modificationDate(const QString &containerPath, const QString &relativePath);

// Writes the bytes to the file under the container, replacing it atomically and
// creating its folders. Never fails to its caller: a missing container logs
// "<tag>: app group container missing" and a failed write "<tag>: write <relative
// path> failed: <reason>", both as errors on the caller's logger; the old file stays.
void writeText(const QByteArray &bytes, const QString &relativePath, const AppGroupContainer &appGroup, const Logger &log,
               const QString &tag, const std::optional<QString> &containerPath = std::nullopt);

} // namespace AppGroupFiles
} // namespace kovra
