#include "app/Panel.h"

#include <QPainter>

#include <algorithm>

namespace zumo {

Panel::Panel(QWidget* parent, int margin, const QImage* background)
    : QWidget(parent), margin(margin), background(background) {}

void Panel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (background) painter.drawImage(QPoint(0, 0), *background);
}

void RightOfPrevious(Panel* container, QWidget* control) {
    const int m = container->margin;
    if (container->last) control->move(container->last->geometry().right() + 1 + m, container->last->y());
    else control->move(m, m);
    container->last = control;
}

void FitContainer(QWidget* container, int margin, bool& fitted, QWidget* control) {
    const int w = control->geometry().right() + 1 + margin;
    const int h = control->geometry().bottom() + 1 + margin;
    if (!fitted) container->resize(w, h);
    else container->resize(std::max(container->width(), w), std::max(container->height(), h));
    fitted = true;
}

void Fit(Panel* container, QWidget* control) { FitContainer(container, container->margin, container->fitted, control); }

} // namespace zumo
