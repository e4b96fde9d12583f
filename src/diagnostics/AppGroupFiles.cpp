#include "diagnostics/AppGroupFiles.h"

#include "diagnostics/StrictUtf8.h"
#include "platform/AppGroupContainer.h"
#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kovra::AppGroupFiles {
namespace {

// A relative path that stays below the folder it is appended to.
bool staysBelow(const QString &relativePath)
{
    if (relativePath.isEmpty() || QDir::isAbsolutePath(relativePath) || relativePath.contains(QChar(0)))
        return false;
    return !relativePath.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}

QString joined(const QString &containerPath, const QString &relativePath)
{
    return containerPath + QLatin1Char('/') + relativePath;
}

} // namespace

std::optional<QString> container(const AppGroupContainer &appGroup, const std::optional<QString> &containerPath)
{
    if (containerPath)
        return containerPath->isEmpty() ? std::nullopt : containerPath;
    const QString path = appGroup.path();
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QDateTime> modificationDate(const QString &containerPath, const QString &relativePath)
{
    if (!staysBelow(relativePath))
        return std::nullopt;
    const QFileInfo info(joined(containerPath, relativePath));
    if (!info.exists())
        return std::nullopt;
    const QDateTime modified = info.lastModified().toUTC();
    if (!modified.isValid())
        return std::nullopt;
    return modified;
}

std::optional<TextFile> readText(const QString &containerPath, const QString &relativePath)
{
    if (!staysBelow(relativePath))
        return std::nullopt;
    const QString path = joined(containerPath, relativePath);
    // Regular files only: a folder has no text and a pipe would block the reader.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    std::optional<QString> text = decodeStrictUtf8(bytes);
    if (!text)
        return std::nullopt;
    return TextFile{std::move(*text), modificationDate(containerPath, relativePath)};
}

void writeText(const QByteArray &bytes, const QString &relativePath, const AppGroupContainer &appGroup, const Logger &log,
               const QString &tag, const std::optional<QString> &containerPath)
{
    const std::optional<QString> root = container(appGroup, containerPath);
    if (!root) {
        log.error(QStringLiteral("%1: app group container missing").arg(tag));
        return;
    }
    QString reason;
    if (!staysBelow(relativePath))
        reason = QStringLiteral("the path leaves the container");
    else if (files::writeAtomically(joined(*root, relativePath), bytes, &reason))
        return;
    log.error(QStringLiteral("%1: write %2 failed: %3").arg(tag, relativePath, reason));
}

} // namespace kovra::AppGroupFiles
