#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace kovra::test {

// Points XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR at a fresh temporary
// folder for the life of the object, and puts the old values back afterwards.
class TestHome {
public:
    TestHome();
    ~TestHome();
    TestHome(const TestHome &) = delete;
    TestHome &operator=(const TestHome &) = delete;

    QString path() const { return m_dir.path(); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/config"); }
    QString dataHome() const { return m_dir.path() + QStringLiteral("/data"); }
    QString runtimeDir() const { return m_dir.path() + QStringLiteral("/run"); }

private:
    QTemporaryDir m_dir;
    QByteArray m_old[3];
    bool m_had[3] = {};
};

// A unique text for names that parallel tests must not share (keychain services, sockets).
QString uniqueName(const QString &prefix);

} // namespace kovra::test
