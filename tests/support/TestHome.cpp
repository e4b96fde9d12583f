#include "support/TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QUuid>

namespace kovra::test {

TestHome::TestHome(Mode) : m_dir(QDir::tempPath() + QStringLiteral("/kh-XXXXXX"))
{
    for (const QString &dir : {configHome(), dataHome(), runtimeDir()}) {
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

QString uniqueName(const QString &prefix)
{
    return prefix + QLatin1Char('-') + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-')
        + QUuid::createUuid().toString(QUuid::Id128).left(8);
}

} // namespace kovra::test

