#include "platform/PlatformPaths.h"

#include <QDir>
#include <QStandardPaths>

namespace kovra {
namespace {

QString baseFolder(const char *variable, const char *underHome)
{
    const QString dir = qEnvironmentVariable(variable);
    if (dir.isEmpty() || QDir::isRelativePath(dir))
        return QDir::homePath() + QLatin1Char('/') + QLatin1String(underHome);
    return dir;
}

} // namespace

PlatformPaths PlatformPaths::fromEnvironment()
{
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return {baseFolder("XDG_CONFIG_HOME", ".config"), baseFolder("XDG_DATA_HOME", ".local/share"), runtime};
}

} // namespace kovra
