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
// when the button or key is released. A double click counts as a second
// press. Setting the flag from code does not run the action.
//
// With a repeat interval, a press held past kFirstRepeatMs flips the flag
// and runs the action again, then again at every interval, for as long as
// the left button is really held down on the button: nothing repeats while
// the pointer is off the button or the button is disabled, and the press
// ends when the button is released (also while disabled, when the release
// never reaches it as a click), hidden, or its window loses the focus. An
// ordinary click, however long it is held, is one press and one action.
class FixedButton : public QWidget {
public:
    // A click of a person lasts up to about 300 ms; the first repeat comes
    // well after that.
    static constexpr int kFirstRepeatMs = 500;

    FixedButton(QWidget* parent, const QImage* glyphs, char caption, QColor captionColour, std::atomic<bool>* flag,
                int repeatMs);

    bool Checked() const { return flag->load(); }
    void SetChecked(bool on);
    void SetClickAction(std::function<void(FixedButton*)> action) { clickAction = std::move(action); }
    char Caption() const { return caption; }
    // True while the click action runs for a repeat rather than a release.
    bool Repeating() const { return repeating; }

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Press();
    void EndPress();
    void Repeat();
    void Flip();
    void Click();

    const QImage* glyphs;
    char caption;
    QColor captionColour;
    std::atomic<bool>* flag;
    std::atomic<bool> ownFlag{false};
    int repeatMs;
    QTimer repeatTimer;
    std::function<void(FixedButton*)> clickAction;
    bool held = false;      // a press of the left button is under way
    bool pointerOn = false; // and the pointer was last seen on the button
    bool repeating = false;
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
