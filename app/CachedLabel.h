#pragma once

#include <QLabel>
#include <QPixmap>
#include <QString>

namespace zumo {

// A label that keeps its painted text: the title moves a pixel ten times a
// second, and laying out and drawing the text again each time made up much
// of what the window's thread spent while playing. Once painted, the label
// paints itself again into a transparent pixmap (by its own paintEvent, so
// it looks the same; a widget cannot render itself while it paints, hence
// the posted call), and from then on only draws the pixmap, until its text,
// size or look changes.
class CachedLabel : public QLabel {
public:
    CachedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QSize Pixels() const;
    bool CacheFits() const;
    void Render();

    QPixmap cache;
    QString cachedText;
    bool stale = true;
    bool rendering = false;
    bool renderPosted = false;
};

} // namespace zumo
