#include "app/GradientFill.h"

#include <QPainter>

namespace zumo {

static int BandComponent(int c0, int c1, int band) {
    const int32_t value = c0 + (band * (c1 - c0)) / 255; // C++ division truncates toward zero
    return ((value % 256) + 256) % 256;
}

QColor GradientBand(QColor c0, QColor c1, int band) {
    return QColor(BandComponent(c0.red(), c1.red(), band), BandComponent(c0.green(), c1.green(), band),
                  BandComponent(c0.blue(), c1.blue(), band));
}

void GradientFill(QImage& image, QColor a, QColor b, int segments) {
    if (segments <= 0 || image.isNull()) return;
    const int width = image.width() / segments;
    const int height = image.height();
    QPainter painter(&image);
    for (int k = 0; k < segments; ++k) {
        for (int i = 0; i < 256; ++i) {
            const int top = i * height / 256;
            const int bottom = (i + 1) * height / 256;
            if (bottom <= top) continue;
            painter.fillRect(k * width, top, width, bottom - top, GradientBand(a, b, i));
        }
        std::swap(a, b);
    }
}

} // namespace zumo
