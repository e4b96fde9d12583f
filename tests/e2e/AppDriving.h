#pragma once

// Driving the whole app in its real windows from a test: the local tools as child
// processes, finding items and buttons the way a user sees them, clicking, pictures.

#include "platform/PlatformPaths.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <dlfcn.h>

#include "support/ChildProcess.h"
#include "support/TestHome.h"

namespace kovra::test {

// A tool as a child process in the private home; stopped by its process id when the
// object goes, whatever the test's outcome.
class Tool {
public:
    Tool(const QString &name, const QStringList &arguments, const test::TestHome &home)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.configHome());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.dataHome());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.runtimeDir());
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(qEnvironmentVariable("KOVRA_TOOLS_DIR") + u'/' + name, arguments);
    }
    ~Tool() { stop(); }

    bool running() const { return m_process.state() != QProcess::NotRunning; }
    QString output()
    {
        m_output += m_process.readAll();
        return QString::fromUtf8(m_output);
    }
    void stop()
    {
        stopChild(m_process);
        output();
    }

private:
    QProcess m_process;
    QByteArray m_output;
};

// The first visible, enabled item at or below `from` that `matches`.
template<typename Match>
QQuickItem *findItem(QQuickItem *from, const Match &matches)
{
    if (!from || !from->isVisible() || !from->isEnabled())
        return nullptr;
    if (matches(from))
        return from;
    for (QQuickItem *child : from->childItems()) {
        if (QQuickItem *found = findItem(child, matches))
            return found;
    }
    return nullptr;
}

inline QQuickItem *buttonNamed(QQuickItem *from, const QString &accessibleName)
{
    return findItem(from, [&](QQuickItem *item) {
        const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(item);
        return a11y && a11y->role() == QAccessible::Button && a11y->text(QAccessible::Name) == accessibleName;
    });
}

// The `model` of the view with that object name.
template<typename Model>
Model *modelOf(QQuickItem *from, const QString &objectName)
{
    QQuickItem *view = findItem(from, [&](QQuickItem *item) { return item->objectName() == objectName; });
    return view ? view->property("model").value<Model *>() : nullptr;
}

inline bool click(QQuickWindow *window, QQuickItem *item, const QString &name)
{
    if (!item) {
        qWarning("no visible item \"%s\"", qPrintable(name));
        return false;
    }
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, {}, centre.toPoint());
    return true;
}

// Clicks the middle of the button with that accessible name.
inline bool press(QQuickWindow *window, const QString &name)
{
    return click(window, buttonNamed(window->contentItem(), name), name);
}

inline QQuickItem *itemNamed(QQuickItem *from, const QString &objectName)
{
    return findItem(from, [&](QQuickItem *i) { return i->objectName() == objectName; });
}

inline QQuickItem *itemNamed(QQuickWindow *window, const QString &objectName)
{
    return itemNamed(window->contentItem(), objectName);
}

// Saves a picture of the window as `<prefix><name>.png` in $KOVRA_SCREENSHOTS (default:
// screenshots/ beside the test executable); false when it could not.
inline bool saveScreenshot(QQuickWindow *window, const QString &prefix, const QString &name)
{
    QString dir = qEnvironmentVariable("KOVRA_SCREENSHOTS");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
    QDir().mkpath(dir);
    return window->grabWindow().save(dir + u'/' + prefix + name + QStringLiteral(".png"));
}

// Mesa's software GL driver keeps a few allocations in its own globals; unloaded at
// exit, they would read as leaks of an unknown module that no suppression can name.
// Kept loaded, they are the driver's (suppressed like the rest of the GL stack).
inline void keepGLDriverLoaded()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : maps.readAll().split('\n')) {
        const QByteArray path = line.mid(line.indexOf('/'));
        if (line.contains('/') && path.endsWith("_dri.so"))
            dlopen(path.constData(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

} // namespace kovra::test
