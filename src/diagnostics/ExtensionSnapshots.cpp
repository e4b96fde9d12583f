#include "diagnostics/ExtensionSnapshots.h"

#include "diagnostics/AppGroupFiles.h"

namespace kovra {
namespace {

std::optional<QString> textOf(const std::optional<AppGroupFiles::TextFile> &file)
{
    return file ? std::optional<QString>(file->text) : std::nullopt;
}

std::optional<LastStartupDiagnostics::Snapshot> loadNote(const AppGroupContainer &appGroup,
                                                         const std::optional<QString> &containerPath,
                                                         const QString &relativePath)
{
    const std::optional<QString> root = AppGroupFiles::container(appGroup, containerPath);
    if (!root)
        return std::nullopt;
    std::optional<AppGroupFiles::TextFile> file = AppGroupFiles::readText(*root, relativePath);
    if (!file)
        return std::nullopt;
    return LastStartupDiagnostics::Snapshot{std::move(file->text), file->modifiedAt};
}

} // namespace

std::optional<FetchedConfigDiagnostics::Snapshot> FetchedConfigDiagnostics::load(
    const AppGroupContainer &appGroup, const std::optional<QString> &containerPath)
{
    const std::optional<QString> root = AppGroupFiles::container(appGroup, containerPath);
    if (!root)
        return std::nullopt;
    const auto summary = AppGroupFiles::readText(*root, DiagnosticsFiles::configSummary);
    const auto fetched = AppGroupFiles::readText(*root, DiagnosticsFiles::configFetched);
    const auto sanitized = AppGroupFiles::readText(*root, DiagnosticsFiles::configSanitized);
    if (!summary && !fetched && !sanitized)
        return std::nullopt;

    Snapshot snapshot{textOf(summary), textOf(fetched), textOf(sanitized), std::nullopt};
    // A file that is present but not UTF-8 still dates the snapshot.
    for (const QString &path :
         {DiagnosticsFiles::configSanitized, DiagnosticsFiles::configFetched, DiagnosticsFiles::configSummary}) {
        snapshot.modifiedAt = AppGroupFiles::modificationDate(*root, path);
        if (snapshot.modifiedAt)
            break;
    }
    return snapshot;
}

std::optional<LastStartupDiagnostics::Snapshot>
LastStartupDiagnostics::load(const AppGroupContainer &appGroup, const std::optional<QString> &containerPath)
{
    return loadNote(appGroup, containerPath, DiagnosticsFiles::lastStartup);
}

std::optional<LastStartupFailureDiagnostics::Snapshot>
LastStartupFailureDiagnostics::load(const AppGroupContainer &appGroup, const std::optional<QString> &containerPath)
{
    return loadNote(appGroup, containerPath, DiagnosticsFiles::lastStartupFailure);
}

} // namespace kovra
