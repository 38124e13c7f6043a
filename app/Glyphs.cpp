#include "app/Glyphs.h"

#include <QFont>
#include <QPainterPath>
#include <QPolygonF>

namespace zumo {

// The symbols are drawn in a 12 x 12 box centred on the button, on whole
// pixels where they have straight edges so that they stay crisp.
void DrawCaption(QPainter& painter, const QRect& area, char symbol, QColor colour) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    const QPointF c = QRectF(area).center();
    const double x0 = std::floor(c.x()) - 6, y0 = std::floor(c.y()) - 6;
    auto triangleRight = [&](double left, double width) {
        painter.drawPolygon(QPolygonF({QPointF(left, y0 + 1), QPointF(left + width, y0 + 6), QPointF(left, y0 + 11)}));
    };
    auto triangleLeft = [&](double left, double width) {
        painter.drawPolygon(
            QPolygonF({QPointF(left + width, y0 + 1), QPointF(left, y0 + 6), QPointF(left + width, y0 + 11)}));
    };
    switch (symbol) {
    case ';': // pause: two bars
        painter.drawRect(QRectF(x0 + 2, y0 + 1, 3, 10));
        painter.drawRect(QRectF(x0 + 7, y0 + 1, 3, 10));
        break;
    case '4': // play
        triangleRight(x0 + 2, 9);
        break;
    case '9': // previous: bar and two left triangles
        painter.drawRect(QRectF(x0, y0 + 1, 2, 10));
        triangleLeft(x0 + 2, 5);
        triangleLeft(x0 + 7, 5);
        break;
    case ':': // next: two right triangles and bar
        triangleRight(x0, 5);
        triangleRight(x0 + 5, 5);
        painter.drawRect(QRectF(x0 + 10, y0 + 1, 2, 10));
        break;
    case 'q': { // repeat: two arrows chasing each other round
        QPen pen(colour, 1.6);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const QRectF ring(x0 + 1.5, y0 + 2, 9, 8);
        painter.drawArc(ring, 30 * 16, 140 * 16);
        painter.drawArc(ring, 210 * 16, 140 * 16);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawPolygon(
            QPolygonF({QPointF(x0 + 0.0, y0 + 3.5), QPointF(x0 + 4.0, y0 + 3.5), QPointF(x0 + 2.0, y0 + 6.5)}));
        painter.drawPolygon(
            QPolygonF({QPointF(x0 + 12.0, y0 + 8.5), QPointF(x0 + 8.0, y0 + 8.5), QPointF(x0 + 10.0, y0 + 5.5)}));
        break;
    }
    case '6': // list: a down-pointing triangle
        painter.drawPolygon(QPolygonF({QPointF(x0 + 1, y0 + 3), QPointF(x0 + 11, y0 + 3), QPointF(x0 + 6, y0 + 9)}));
        break;
    case 'i': {
        QFont font("Arial");
        font.setPixelSize(14);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("i"));
        break;
    }
    default: break;
    }
    painter.restore();
}

} // namespace zumo
