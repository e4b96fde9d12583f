#include "platform/AppGroupContainer.h"

#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace kovra {
namespace {

bool isSafeRelative(const QString &relativePath)
{
    if (relativePath.isEmpty() || QDir::isAbsolutePath(relativePath) || relativePath.contains(QChar(0)))
        return false;
    const auto parts = relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return !parts.isEmpty() && !parts.contains(QStringLiteral("..")) && !parts.contains(QStringLiteral("."));
}

} // namespace

AppGroupContainer::AppGroupContainer(const PlatformPaths &paths, QString suite)
    : m_dataFolder(QDir::isAbsolutePath(paths.dataHome) ? paths.dataFolder() : QString()), m_suite(std::move(suite))
{
}

QString AppGroupContainer::path() const
{
    if (m_dataFolder.isEmpty() || !isSafeRelative(m_suite) || m_suite.contains(QLatin1Char('/')))
        return {};
    return m_dataFolder + QLatin1Char('/') + m_suite;
}

QString AppGroupContainer::filePath(const QString &relativePath) const
{
    const QString root = path();
    if (root.isEmpty() || !isSafeRelative(relativePath))
        return {};
    return root + QLatin1Char('/') + relativePath;
}

std::optional<QByteArray> AppGroupContainer::read(const QString &relativePath) const
{
    const QString file = filePath(relativePath);
    if (file.isEmpty())
        return std::nullopt;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

bool AppGroupContainer::write(const QString &relativePath, const QByteArray &data) const
{
    const QString file = filePath(relativePath);
    return !file.isEmpty() && files::writeAtomically(file, data);
}

} // namespace kovra
