#pragma once

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

class QQuickWindow;

namespace kovra::ui {

// Whether the window an item is in is on screen: shown, not minimised, and exposed
// (not unmapped or otherwise taken off the screen, as far as the window system
// tells). Animations that run for ever bind `running` to it beside the item's own
// visibility, so that nothing animates unseen:
//
//     readonly property bool onScreen: WindowExposure.exposed
//     RotationAnimator on rotation { running: spinner.visible && spinner.onScreen; ... }
//
// Attached to an item (or a window); false while it is in no window. GUI thread only.
class WindowExposure : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_ATTACHED(kovra::ui::WindowExposure)
    QML_UNCREATABLE("attached only: WindowExposure.exposed")
    Q_PROPERTY(bool exposed READ isExposed NOTIFY exposedChanged)
public:
    explicit WindowExposure(QObject *attachee);
    static WindowExposure *qmlAttachedProperties(QObject *object) { return new WindowExposure(object); }

    bool isExposed() const { return m_exposed; }

Q_SIGNALS:
    void exposedChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow(QQuickWindow *window);
    void update();

    QPointer<QQuickWindow> m_window;
    bool m_exposed = false;
};

} // namespace kovra::ui
