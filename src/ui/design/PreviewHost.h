#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <memory>

class QQmlComponent;
class QQmlEngine;
class QQuickItem;
class QQuickWindow;

namespace kovra::ui {

struct PreviewOptions {
    int margin = 24;
    QSize windowSize{}; // empty: the item's size plus the margins
};

// Shows one QML component in a window of its own, on the Brand backdrop, for the
// design gallery and for view tests. The item keeps its implicit size (or the
// width and height given as properties) and sits `margin` from the window's
// top-left corner, so that shadows and rings around it stay in the picture.
// Showing and grabbing are left to the caller, which waits for a frame its own way.
class PreviewHost {
public:
    using Options = PreviewOptions;

    explicit PreviewHost(QQmlEngine &engine);
    ~PreviewHost();
    PreviewHost(const PreviewHost &) = delete;
    PreviewHost &operator=(const PreviewHost &) = delete;

    // Creates the component at `url` (or from QML `source`) with the initial
    // properties into a new window, replacing what was shown. Returns the error
    // text, empty on success.
    QString load(const QUrl &url, const QVariantMap &properties = {}, Options options = {});
    QString loadSource(const QByteArray &source, const QVariantMap &properties = {}, Options options = {});

    QQuickWindow *window() const;
    QQuickItem *item() const;

    // Keeps the loaded OpenGL driver (Mesa's DRI module) in memory until the process
    // ends. The driver unloads itself when the display closes; what it allocated and
    // never freed would then show in a leak checker under no library name at all,
    // where no suppression can name it. Call after the first frame.
    static void keepGraphicsDriverLoaded();

    // The URL of a file of a QML module: moduleFile("Kovra.Design", "BrandCard").
    static QUrl moduleFile(const QString &uri, const QString &name);

private:
    QString create(QQmlComponent &component, const QVariantMap &properties, Options options);
    void fitWindow();

    QQmlEngine &m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    QPointer<QQuickItem> m_item;
    Options m_options;
};

} // namespace kovra::ui
