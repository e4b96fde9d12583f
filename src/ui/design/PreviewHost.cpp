#include "PreviewHost.h"

#include "Brand.h"
#include "DesignModule.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include <dlfcn.h>
#include <link.h>

namespace kovra::ui {

PreviewHost::PreviewHost(QQmlEngine &engine) : m_engine(engine) {}

PreviewHost::~PreviewHost()
{
    delete m_item.data();
}

void PreviewHost::keepGraphicsDriverLoaded()
{
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *) {
            const QByteArrayView path(info->dlpi_name ? info->dlpi_name : "");
            if (path.contains("/dri/") || path.contains("libgallium")) {
                // Already loaded: this only marks it as never to be unloaded.
                if (void *handle = dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE))
                    dlclose(handle);
            }
            return 0;
        },
        nullptr);
}

QUrl PreviewHost::moduleFile(const QString &uri, const QString &name)
{
    QString path = uri;
    path.replace(u'.', u'/');
    return QUrl(QStringLiteral("qrc:/qt/qml/%1/%2.qml").arg(path, name));
}

QString PreviewHost::load(const QUrl &url, const QVariantMap &properties, Options options)
{
    QQmlComponent component(&m_engine, url);
    return create(component, properties, options);
}

QString PreviewHost::loadSource(const QByteArray &source, const QVariantMap &properties, Options options)
{
    QQmlComponent component(&m_engine);
    component.setData(source, QUrl(QStringLiteral("qrc:/kovra-preview/Preview.qml")));
    return create(component, properties, options);
}

QString PreviewHost::create(QQmlComponent &component, const QVariantMap &properties, Options options)
{
    delete m_item.data();
    m_window = std::make_unique<QQuickWindow>();
    m_options = options;
    if (component.isError())
        return component.errorString();
    QObject *object = component.createWithInitialProperties(properties);
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item) {
        delete object;
        return component.isError() ? component.errorString() : QStringLiteral("the root is not an item");
    }
    m_item = item;
    item->setParentItem(m_window->contentItem());
    item->setPosition(QPointF(options.margin, options.margin));
    // Without an explicit size an item follows its implicit size; the window follows the item.
    QObject::connect(item, &QQuickItem::widthChanged, m_window.get(), [this] { fitWindow(); });
    QObject::connect(item, &QQuickItem::heightChanged, m_window.get(), [this] { fitWindow(); });

    if (Brand *brand = brandOf(m_engine)) {
        m_window->setColor(brand->background());
        QObject::connect(brand, &Brand::colorsChanged, m_window.get(),
                         [w = m_window.get(), brand] { w->setColor(brand->background()); });
    }
    fitWindow();
    return {};
}

void PreviewHost::fitWindow()
{
    if (!m_window || !m_item)
        return;
    if (!m_options.windowSize.isEmpty()) {
        m_window->resize(m_options.windowSize);
        return;
    }
    const int m = m_options.margin;
    m_window->resize(qCeil(m_item->width()) + 2 * m, qCeil(m_item->height()) + 2 * m);
}

QQuickItem *PreviewHost::item() const
{
    return m_item.data();
}

QQuickWindow *PreviewHost::window() const
{
    return m_window.get();
}

} // namespace kovra::ui
