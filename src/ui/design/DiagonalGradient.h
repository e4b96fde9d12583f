#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

namespace kovra::ui {

// A rounded rectangle (a circle when the radius is half the side) filled with a
// linear gradient from its top-left to its bottom-right corner, evenly spaced
// between two colours. Qt Quick's own gradients only run horizontally or
// vertically; this one draws the accent gradient of buttons and the connect disc.
class DiagonalGradient : public QQuickPaintedItem {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QColor startColor READ startColor WRITE setStartColor NOTIFY startColorChanged)
    Q_PROPERTY(QColor endColor READ endColor WRITE setEndColor NOTIFY endColorChanged)
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY radiusChanged)
public:
    explicit DiagonalGradient(QQuickItem *parent = nullptr);

    QColor startColor() const { return m_start; }
    void setStartColor(const QColor &color);
    QColor endColor() const { return m_end; }
    void setEndColor(const QColor &color);
    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void startColorChanged();
    void endColorChanged();
    void radiusChanged();

private:
    QColor m_start;
    QColor m_end;
    qreal m_radius = 0;
};

} // namespace kovra::ui
