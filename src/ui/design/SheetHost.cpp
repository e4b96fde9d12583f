#include "SheetHost.h"

#include "PreviewHost.h"

#include "platform/Log.h"

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

} // namespace

SheetHost::SheetHost(QWindow *parent, SheetOptions options, QQmlEngine *engine)
    : m_parent(parent), m_options(std::move(options)), m_engine(engine ? engine : engineOf(parent))
{
}

SheetHost::~SheetHost()
{
    delete m_content.data();
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
    if (!m_engine) {
        error = QStringLiteral("no QML engine for the sheet \"%1\"").arg(m_options.title);
    } else {
        QVariantMap windowProperties{
            {QStringLiteral("title"), m_options.title},
            {QStringLiteral("minimumWidth"), m_options.minimumSize.width()},
            {QStringLiteral("minimumHeight"), m_options.minimumSize.height()},
            {QStringLiteral("transientParent"), QVariant::fromValue(static_cast<QWindow *>(m_parent.data()))},
        };
        if (!m_options.size.isEmpty()) {
            const QSize size = m_options.size.expandedTo(m_options.minimumSize);
            windowProperties.insert(QStringLiteral("width"), size.width());
            windowProperties.insert(QStringLiteral("height"), size.height());
        }
        QQmlComponent windowComponent(m_engine, PreviewHost::moduleFile(QStringLiteral("Kovra.Design"), QStringLiteral("SheetWindow")));
        m_window = createOwned<QQuickWindow>(windowComponent, windowProperties, error);
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
