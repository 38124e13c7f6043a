#pragma once

#include <QColor>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>

namespace zumo {

// An owner-drawn toggle. It keeps a checked flag (in storage that may be
// shared with another thread), flips it when the left button goes down on
// it or space is pressed while it has the focus, and runs its click action
// when the button or key is released. With a repeat interval, while the
// mouse button stays down the flag flips and the action runs again at each
// interval. A double click counts as a second press. Setting the flag from
// code does not run the action.
class FixedButton : public QWidget {
public:
    FixedButton(QWidget* parent, const QImage* glyphs, char caption, QColor captionColour,
                std::atomic<bool>* flag, int repeatMs);

    bool Checked() const { return flag->load(); }
    void SetChecked(bool on);
    void SetClickAction(std::function<void(FixedButton*)> action) { clickAction = std::move(action); }
    char Caption() const { return caption; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void Press();
    void Flip();
    void Click();

    const QImage* glyphs;
    char caption;
    QColor captionColour;
    std::atomic<bool>* flag;
    std::atomic<bool> ownFlag{false};
    QTimer repeatTimer;
    std::function<void(FixedButton*)> clickAction;
    bool held = false;
};

// The plain owner-drawn push button: no flag, no repeat; its second glyph
// shows while it is held down.
class InfoButton : public QWidget {
public:
    InfoButton(QWidget* parent, const QImage* glyphs, char caption, QColor captionColour);
    void SetClickAction(std::function<void(InfoButton*)> action) { clickAction = std::move(action); }
    bool Down() const { return down; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    const QImage* glyphs;
    char caption;
    QColor captionColour;
    std::function<void(InfoButton*)> clickAction;
    bool down = false;
};

} // namespace zumo
