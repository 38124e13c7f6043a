#pragma once

#include <QImage>
#include <QWidget>

namespace zumo {

// A plain black panel with a margin for its children, optionally painting
// a bitmap at its top-left corner. The window's strips, its display and
// the title's clip are panels.
class Panel : public QWidget {
public:
    Panel(QWidget* parent, int margin, const QImage* background = nullptr);

    int margin;
    // Whether the panel has been fitted to a child yet, and the child
    // placed last (the layout rules below keep both).
    bool fitted = false;
    QWidget* last = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const QImage* background;
};

// The layout rules of the window's controls: a new control starts at the
// container's margin, or right of the previous control; fitting makes the
// container just hold the control (exactly the first time, only growing
// later).
void RightOfPrevious(Panel* container, QWidget* control);
void FitContainer(QWidget* container, int margin, bool& fitted, QWidget* control);
void Fit(Panel* container, QWidget* control);

} // namespace zumo
