#include "DiagonalGradient.h"

#include "platform/Property.h"

#include <QLinearGradient>
#include <QPainter>

namespace kovra::ui {

DiagonalGradient::DiagonalGradient(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    connect(this, &DiagonalGradient::startColorChanged, this, [this] { update(); });
    connect(this, &DiagonalGradient::endColorChanged, this, [this] { update(); });
    connect(this, &DiagonalGradient::radiusChanged, this, [this] { update(); });
}

void DiagonalGradient::setStartColor(const QColor &color)
{
    updateProperty(m_start, color, this, &DiagonalGradient::startColorChanged);
}

void DiagonalGradient::setEndColor(const QColor &color)
{
    updateProperty(m_end, color, this, &DiagonalGradient::endColorChanged);
}

void DiagonalGradient::setRadius(qreal radius)
{
    updateProperty(m_radius, radius, this, &DiagonalGradient::radiusChanged);
}

void DiagonalGradient::paint(QPainter *painter)
{
    const QRectF area(0, 0, width(), height());
    if (area.isEmpty())
        return;
    QLinearGradient gradient(area.topLeft(), area.bottomRight());
    gradient.setColorAt(0, m_start);
    gradient.setColorAt(1, m_end);
    const qreal r = qIsFinite(m_radius) ? std::clamp(m_radius, 0.0, std::min(area.width(), area.height()) / 2) : 0.0;
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(gradient);
    painter->drawRoundedRect(area, r, r);
}

} // namespace kovra::ui
