#include "ui/design/WindowExposure.h"

#include <QEvent>
#include <QQuickItem>
#include <QQuickWindow>

namespace kovra::ui {

WindowExposure::WindowExposure(QObject *attachee) : QObject(attachee)
{
    if (auto *item = qobject_cast<QQuickItem *>(attachee)) {
        connect(item, &QQuickItem::windowChanged, this, &WindowExposure::follow);
        follow(item->window());
    } else {
        follow(qobject_cast<QQuickWindow *>(attachee));
    }
}

void WindowExposure::follow(QQuickWindow *window)
{
    if (m_window) {
        m_window->removeEventFilter(this);
        disconnect(m_window, nullptr, this, nullptr);
    }
    m_window = window;
    if (window) {
        // Exposure changes come as events only; showing, hiding and minimising as signals.
        window->installEventFilter(this);
        connect(window, &QWindow::visibleChanged, this, &WindowExposure::update);
        connect(window, &QWindow::visibilityChanged, this, &WindowExposure::update);
    }
    update();
}

bool WindowExposure::eventFilter(QObject *watched, QEvent *event)
{
    // The window's exposure is already updated when its expose event arrives.
    if (watched == m_window && event->type() == QEvent::Expose)
        update();
    return QObject::eventFilter(watched, event);
}

void WindowExposure::update()
{
    const bool exposed = m_window && m_window->isVisible() && m_window->isExposed()
        && m_window->visibility() != QWindow::Minimized;
    if (exposed == m_exposed)
        return;
    m_exposed = exposed;
    Q_EMIT exposedChanged();
}

} // namespace kovra::ui
