#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace kovra::ui {

// The top-left corner that keeps a box of `size` at `topLeft` inside `available`; a
// box larger than the area keeps its top-left corner inside.
QPoint keptInside(QPoint topLeft, QSize size, const QRect &available);

// Where a window of `size` (its frame included) opens centred on `over`, kept inside
// `available`.
QPoint centredOn(const QRect &over, QSize size, const QRect &available);

} // namespace kovra::ui
