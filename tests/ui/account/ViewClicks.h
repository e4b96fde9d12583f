#pragma once

#include <QAccessible>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace kovra::test {

inline QPointF centreOf(QQuickItem *item)
{
    return item->mapToScene(QPointF(item->width(), item->height()) / 2);
}

// Clicks the middle of an item that is shown.
inline void clickCentre(QQuickWindow *window, QQuickItem *item)
{
    QVERIFY(item && item->isVisible());
    QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(item).toPoint());
}

inline QString accessibleText(QQuickItem *item, QAccessible::Text which)
{
    const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(item);
    return a11y ? a11y->text(which) : QString();
}

} // namespace kovra::test
