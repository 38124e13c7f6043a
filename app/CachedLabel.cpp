#include "app/CachedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QTimer>
#include <QtMath>

namespace zumo {

void CachedLabel::paintEvent(QPaintEvent* event) {
    if (!rendering && CacheFits()) {
        QPainter painter(this);
        painter.drawPixmap(0, 0, cache);
        return;
    }
    QLabel::paintEvent(event);
    if (rendering || renderPosted) return;
    renderPosted = true;
    QTimer::singleShot(0, this, [this] {
        renderPosted = false;
        Render();
    });
}

void CachedLabel::changeEvent(QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::FontChange || type == QEvent::PaletteChange || type == QEvent::EnabledChange ||
        type == QEvent::StyleChange)
        stale = true;
    QLabel::changeEvent(event);
}

QSize CachedLabel::Pixels() const {
    const qreal ratio = devicePixelRatioF();
    return {qCeil(width() * ratio), qCeil(height() * ratio)};
}

bool CachedLabel::CacheFits() const {
    return !stale && !cache.isNull() && cache.size() == Pixels() && cachedText == text();
}

void CachedLabel::Render() {
    if (CacheFits() || width() <= 0 || height() <= 0) return;
    cache = QPixmap(Pixels());
    cache.setDevicePixelRatio(devicePixelRatioF());
    cache.fill(Qt::transparent);
    rendering = true;
    render(&cache, QPoint(), QRegion(), QWidget::RenderFlags());
    rendering = false;
    cachedText = text();
    stale = false;
}

} // namespace zumo
