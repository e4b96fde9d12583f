#include "ui/main/WindowPlacement.h"

#include <algorithm>

namespace kovra::ui {

QPoint keptInside(QPoint topLeft, QSize size, const QRect &available)
{
    return {std::max(available.left(), std::min(topLeft.x(), available.right() + 1 - size.width())),
            std::max(available.top(), std::min(topLeft.y(), available.bottom() + 1 - size.height()))};
}

QPoint centredOn(const QRect &over, QSize size, const QRect &available)
{
    const QPoint centre = over.center();
    return keptInside({centre.x() + 1 - size.width() / 2, centre.y() + 1 - size.height() / 2}, size, available);
}

} // namespace kovra::ui
