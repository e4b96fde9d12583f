#include "support/TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QUuid>

namespace kovra::test {
namespace {
const char *const kVars[3] = {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"};
}

TestHome::TestHome(Mode mode)
    : m_dir(QDir::tempPath() + QStringLiteral("/kh-XXXXXX")), m_setEnvironment(mode == Mode::SetEnvironment)
{
    const QString dirs[3] = {configHome(), dataHome(), runtimeDir()};
    for (int i = 0; i < 3; ++i) {
        QDir().mkpath(dirs[i]);
        QFile::setPermissions(dirs[i], QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (!m_setEnvironment)
            continue;
        m_had[i] = qEnvironmentVariableIsSet(kVars[i]);
        m_old[i] = qgetenv(kVars[i]);
        qputenv(kVars[i], dirs[i].toUtf8());
    }
}

TestHome::~TestHome()
{
    if (!m_setEnvironment)
        return;
    for (int i = 0; i < 3; ++i) {
        if (m_had[i])
            qputenv(kVars[i], m_old[i]);
        else
            qunsetenv(kVars[i]);
    }
}

QString uniqueName(const QString &prefix)
{
    return prefix + QLatin1Char('-') + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-')
        + QUuid::createUuid().toString(QUuid::Id128).left(8);
}

} // namespace kovra::test

