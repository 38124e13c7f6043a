#include "app/FixedButton.h"

#include "app/Glyphs.h"

#include <QGuiApplication>
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
    : QWidget(parent), glyphs(glyphs), caption(caption), captionColour(captionColour), flag(flag ? flag : &ownFlag),
      repeatMs(repeatMs) {
    setFocusPolicy(Qt::StrongFocus);
    QObject::connect(&repeatTimer, &QTimer::timeout, this, [this] { Repeat(); });
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
    pointerOn = true;
    if (repeatMs > 0) repeatTimer.start(kFirstRepeatMs);
}

void FixedButton::EndPress() {
    held = false;
    repeatTimer.stop();
}

void FixedButton::Repeat() {
    // The window system may not have told the button of the release (it is
    // not delivered to a disabled widget, nor while another program holds
    // the pointer): the press is over once the button is really up.
    if (!held || !(QGuiApplication::mouseButtons() & Qt::LeftButton) || !isVisible()) {
        EndPress();
        return;
    }
    repeatTimer.setInterval(repeatMs);
    if (!isEnabled() || !pointerOn) return;
    Flip();
    repeating = true;
    Click();
    repeating = false;
}

// The release is taken here, before QWidget drops mouse events of a
// disabled widget: the worker disables the previous and next buttons
// while it changes track, and a press must end with its release all the
// same. A disabled button runs no click action.
bool FixedButton::event(QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && held) {
            EndPress();
            if (isEnabled()) Click();
            return true;
        }
    }
    return QWidget::event(event);
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

void FixedButton::mouseMoveEvent(QMouseEvent* event) {
    if (held) pointerOn = rect().contains(event->position().toPoint());
}

void FixedButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space) return QWidget::keyPressEvent(event);
    if (!event->isAutoRepeat()) Flip();
}

void FixedButton::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space) return QWidget::keyReleaseEvent(event);
    if (!event->isAutoRepeat()) Click();
}

void FixedButton::hideEvent(QHideEvent* event) {
    EndPress();
    QWidget::hideEvent(event);
}

void FixedButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && held && !isActiveWindow()) EndPress();
    QWidget::changeEvent(event);
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
