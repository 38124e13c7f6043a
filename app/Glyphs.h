#pragma once

#include <QColor>
#include <QPainter>
#include <QRect>

namespace zumo {

// Draws the symbol of a button caption centred in `area`: ';' pause,
// '4' play, '9' previous, ':' next, 'q' repeat, '6' list, 'i' info.
// Other characters draw nothing.
void DrawCaption(QPainter& painter, const QRect& area, char symbol, QColor colour);

} // namespace zumo
