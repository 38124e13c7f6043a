#pragma once

#include <QColor>
#include <QImage>

namespace zumo {

// Colour of band i (0..255) of a gradient from c0 to c1: per component
// c0 + i * (c1 - c0) / 255, the division truncating toward zero, mod 256.
QColor GradientBand(QColor c0, QColor c1, int band);

// Paints the image as n side-by-side segments of width W / n, each as 256
// horizontal bands (band i covers rows i*H/256 up to (i+1)*H/256), the
// first segment from a to b, the colours exchanged after each segment.
void GradientFill(QImage& image, QColor a, QColor b, int segments);

} // namespace zumo
