#include "platform/XdgPaths.h"

#include <QDir>

namespace kovra::xdg {
namespace {
QString baseFolder(const char *variable, const char *underHome)
{
    const QString dir = qEnvironmentVariable(variable);
    if (dir.isEmpty() || QDir::isRelativePath(dir))
        return QDir::homePath() + QLatin1Char('/') + QLatin1String(underHome);
    return dir;
}
} // namespace

QString configHome()
{
    return baseFolder("XDG_CONFIG_HOME", ".config");
}

QString dataHome()
{
    return baseFolder("XDG_DATA_HOME", ".local/share");
}

} // namespace kovra::xdg
