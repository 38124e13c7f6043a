#include "app/FixedButton.h"

#include "app/Glyphs.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace zumo {

static void PaintButton(QWidget* button, const QImage* glyphs, bool second, char caption, QColor colour) {
    QPainter painter(button);
    if (glyphs && !glyphs->isNull()) {
        const int half = glyphs->width() / 2;
        painter.drawImage(QPoint(0, 0), *glyphs, QRect(second ? half : 0, 0, half, glyphs->height()));
    }
    DrawCaption(painter, button->rect(), caption, colour);
}

FixedButton::FixedButton(QWidget* parent, const QImage* glyphs, char caption, QColor captionColour,
                         std::atomic<bool>* flag, int repeatMs)
    : QWidget(parent), glyphs(glyphs), caption(caption), captionColour(captionColour),
      flag(flag ? flag : &ownFlag) {
    setFocusPolicy(Qt::StrongFocus);
    repeatTimer.setInterval(repeatMs);
    if (repeatMs > 0)
        QObject::connect(&repeatTimer, &QTimer::timeout, this, [this] {
            Flip();
            Click();
        });
}

void FixedButton::SetChecked(bool on) {
    flag->store(on);
    update();
}

void FixedButton::Flip() {
    flag->store(!flag->load());
    update();
}

void FixedButton::Click() {
    if (clickAction) clickAction(this);
}

void FixedButton::Press() {
    Flip();
    held = true;
    if (repeatTimer.interval() > 0) repeatTimer.start();
}

void FixedButton::paintEvent(QPaintEvent*) { PaintButton(this, glyphs, Checked(), caption, captionColour); }

void FixedButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    Press();
}

void FixedButton::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    Press();
}

void FixedButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !held) return;
    held = false;
    repeatTimer.stop();
    Click();
}

void FixedButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space) return QWidget::keyPressEvent(event);
    if (!event->isAutoRepeat()) Flip();
}

void FixedButton::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space) return QWidget::keyReleaseEvent(event);
    if (!event->isAutoRepeat()) Click();
}

InfoButton::InfoButton(QWidget* parent, const QImage* glyphs, char caption, QColor captionColour)
    : QWidget(parent), glyphs(glyphs), caption(caption), captionColour(captionColour) {
    setFocusPolicy(Qt::StrongFocus);
}

void InfoButton::paintEvent(QPaintEvent*) { PaintButton(this, glyphs, down, caption, captionColour); }

void InfoButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    down = true;
    update();
}

void InfoButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !down) return;
    down = false;
    update();
    if (rect().contains(event->position().toPoint()) && clickAction) clickAction(this);
}

void InfoButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space) return QWidget::keyPressEvent(event);
    down = true;
    update();
}

void InfoButton::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space || event->isAutoRepeat()) return QWidget::keyReleaseEvent(event);
    down = false;
    update();
    if (clickAction) clickAction(this);
}

} // namespace zumo
