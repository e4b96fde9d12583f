#pragma once

#include "platform/PlatformPaths.h"

#include <QString>
#include <QTemporaryDir>

namespace kovra::test {

// Fresh private config, data and runtime folders (0700) in a temporary folder,
// removed with the object; paths() hands them to whatever the test builds.
class TestHome {
public:
    // The folders reach code under test only through paths(); the process
    // environment is never touched.
    enum class Mode { PathsOnly };
    static constexpr Mode PathsOnly = Mode::PathsOnly;

    explicit TestHome(Mode mode);
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    QString path() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/config"); }
    QString dataHome() const { return m_dir.path() + QStringLiteral("/data"); }
    QString runtimeDir() const { return m_dir.path() + QStringLiteral("/run"); }
    PlatformPaths paths() const { return {configHome(), dataHome(), runtimeDir()}; }

private:
    QTemporaryDir m_dir;
};

// A unique text for names that parallel tests must not share (keychain services, sockets).
QString uniqueName(const QString &prefix);

} // namespace kovra::test
