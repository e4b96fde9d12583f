#include "SheetHost.h"

#include "PreviewHost.h"

#include "platform/Log.h"

#include <QHash>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlListReference>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickWindow>

namespace kovra::ui {
namespace {

const Logger &log()
{
    static const Logger logger(QStringLiteral("Design"));
    return logger;
}

template<typename T>
T *createOwned(QQmlComponent &component, const QVariantMap &properties, QString &error)
{
    QObject *object = component.isError() ? nullptr : component.createWithInitialProperties(properties);
    auto *typed = qobject_cast<T *>(object);
    if (!typed) {
        error = component.isError() ? component.errorString() : QStringLiteral("%1: not the expected kind of item").arg(component.url().toString());
        delete object;
        return nullptr;
    }
    QQmlEngine::setObjectOwnership(typed, QQmlEngine::CppOwnership);
    return typed;
}

// The windows kept for the next presentation, one per engine: a window shown for the
// first time builds its graphics pipelines and glyph caches, which took most of the
// time a sheet needed to appear.
QHash<QQmlEngine *, QPointer<QQuickWindow>> &parkedWindows()
{
    static QHash<QQmlEngine *, QPointer<QQuickWindow>> windows;
    return windows;
}

} // namespace

SheetHost::SheetHost(QWindow *parent, SheetOptions options, QQmlEngine *engine)
    : m_parent(parent), m_options(std::move(options)), m_engine(engine ? engine : engineOf(parent))
{
}

SheetHost::~SheetHost()
{
    delete m_content.data();
    if (!m_window)
        return;
    // One hidden window per engine waits for the next presentation.
    QPointer<QQuickWindow> &parked = parkedWindows()[m_engine];
    if (!parked && !m_window->isVisible())
        parked = m_window;
    else
        delete m_window.data();
}

QQmlEngine *SheetHost::engineOf(QWindow *window)
{
    if (!window)
        return nullptr;
    if (QQmlEngine *engine = qmlEngine(window))
        return engine;
    if (auto *quick = qobject_cast<QQuickWindow *>(window)) {
        for (QQuickItem *item : quick->contentItem()->childItems()) {
            if (QQmlEngine *engine = qmlEngine(item))
                return engine;
        }
    }
    return nullptr;
}

QString SheetHost::open(const QUrl &content, const QVariantMap &properties)
{
    QString error;
    if (m_window) {
        return QStringLiteral("the sheet \"%1\" is open already").arg(m_options.title);
    } else if (!m_engine) {
        error = QStringLiteral("no QML engine for the sheet \"%1\"").arg(m_options.title);
    } else {
        const QList<std::pair<const char *, QVariant>> windowProperties{
            {"title", m_options.title},
            {"minimumWidth", m_options.minimumSize.width()},
            {"minimumHeight", m_options.minimumSize.height()},
            {"transientParent", QVariant::fromValue(static_cast<QWindow *>(m_parent.data()))},
        };
        m_window = parkedWindows().take(m_engine);
        if (m_window) {
            for (const auto &[name, value] : windowProperties)
                m_window->setProperty(name, value);
        } else {
            QVariantMap initial;
            for (const auto &[name, value] : windowProperties)
                initial.insert(QString::fromLatin1(name), value);
            QQmlComponent windowComponent(m_engine, PreviewHost::moduleFile(QStringLiteral("Kovra.Design"), QStringLiteral("SheetWindow")));
            m_window = createOwned<QQuickWindow>(windowComponent, initial, error);
            // The engine's windows go with it, parked ones included.
            if (m_window)
                static_cast<QObject *>(m_window)->setParent(m_engine);
        }
        if (m_window) {
            QQmlComponent contentComponent(m_engine, content);
            m_content = createOwned<QQuickItem>(contentComponent, properties, error);
        }
    }
    if (!m_content) {
        log().error(QStringLiteral("sheet \"%1\" did not open: %2").arg(m_options.title, error));
        deleteLater();
        return error;
    }

    QQmlListReference(m_window, "content").append(m_content);
    QQmlProperty(m_content, QStringLiteral("anchors.fill")).write(QVariant::fromValue(m_content->parentItem()));
    m_window->resize(m_options.size.expandedTo(m_options.minimumSize));
    connect(m_window, SIGNAL(dismissed()), this, SLOT(dismiss()));
    if (m_parent) {
        connect(m_parent, &QWindow::visibleChanged, this, [this](bool visible) {
            if (!visible)
                dismiss();
        });
        connect(m_parent, &QObject::destroyed, this, &SheetHost::dismiss);
    }
    m_open = true;
    m_window->setProperty("open", true);
    return {};
}

void SheetHost::dismiss()
{
    finish(true);
}

void SheetHost::close()
{
    finish(false);
}

void SheetHost::finish(bool byUser)
{
    if (!m_open)
        return;
    m_open = false;
    if (m_parent)
        disconnect(m_parent, nullptr, this, nullptr);
    if (m_window) {
        disconnect(m_window, nullptr, this, nullptr);
        m_window->setProperty("open", false);
    }
    if (byUser)
        Q_EMIT dismissed();
    Q_EMIT closed();
    deleteLater();
}

} // namespace kovra::ui
