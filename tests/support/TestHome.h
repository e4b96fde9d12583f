#pragma once

#include "platform/PlatformPaths.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace kovra::test {

// Fresh private config, data and runtime folders (0700) in a temporary folder,
// removed with the object; paths() hands them to whatever the test builds.
class TestHome {
public:
    enum class Mode {
        // Only hands out paths(); the process environment stays as it is.
        PathsOnly,
        // The old way, for tests whose code under test still reads the environment:
        // also points XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR at the
        // folders, and puts the old values back afterwards.
        SetEnvironment,
    };
    static constexpr Mode PathsOnly = Mode::PathsOnly;

    explicit TestHome(Mode mode = Mode::SetEnvironment);
    ~TestHome();
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    QString path() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/config"); }
    QString dataHome() const { return m_dir.path() + QStringLiteral("/data"); }
    QString runtimeDir() const { return m_dir.path() + QStringLiteral("/run"); }
    PlatformPaths paths() const { return {configHome(), dataHome(), runtimeDir()}; }

private:
    QTemporaryDir m_dir;
    bool m_setEnvironment;
    QByteArray m_old[3];
    bool m_had[3] = {};
};

// A unique text for names that parallel tests must not share (keychain services, sockets).
QString uniqueName(const QString &prefix);

} // namespace kovra::test
