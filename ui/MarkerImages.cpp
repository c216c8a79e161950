#include "ui/MarkerImages.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace kv::ui {

namespace {

const QColor kRingRed(214, 0, 0);
const QColor kLetterGreen(0, 160, 0);

QPixmap Blank() {
    QPixmap pixmap(TMarkerImages::kImageSize, TMarkerImages::kImageSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void Ring(QPainter& p) {
    p.setPen(QPen(kRingRed, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(0.6, 0.6, 8.8, 8.8));
}

void PaintReadOnly(QPainter& p) {
    Ring(p);
    // The letter R, stroked so that it reads at this size on any font setup.
    QPainterPath r;
    r.moveTo(3.5, 7.6);
    r.lineTo(3.5, 2.5);
    r.lineTo(5.3, 2.5);
    r.cubicTo(7.0, 2.5, 7.0, 5.0, 5.3, 5.0);
    r.lineTo(3.5, 5.0);
    r.moveTo(5.0, 5.0);
    r.lineTo(6.8, 7.6);
    p.setPen(QPen(kLetterGreen, 1.4, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.drawPath(r);
}

void PaintPadlock(QPainter& p) {
    // Shackle, then the body over its feet.
    p.setPen(QPen(QColor(70, 70, 70), 1.4));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    shackle.moveTo(2.8, 5.0);
    shackle.lineTo(2.8, 3.4);
    shackle.arcTo(QRectF(2.8, 0.7, 4.4, 5.0), 180, -180);
    shackle.lineTo(7.2, 5.0);
    p.drawPath(shackle);
    p.setPen(QPen(QColor(120, 80, 0), 1.0));
    p.setBrush(QColor(232, 176, 20));
    p.drawRect(QRectF(1.5, 4.5, 7.0, 5.0));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 40, 0));
    p.drawRect(QRectF(4.5, 6.0, 1.0, 2.2));
}

QPixmap MarkerImage(int marker) {
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    PaintMarker(p, marker);
    return pixmap;
}

}  // namespace

void PaintMarker(QPainter& p, int marker) {
    switch (marker) {
        case 0:
        case 1:
            PaintReadOnly(p);
            break;
        case 2:
            PaintPadlock(p);
            break;
        case 3:
            Ring(p);
            break;
        default:
            break;
    }
}

const TMarkerImages& TMarkerImages::Instance() {
    static const TMarkerImages images;
    return images;
}

TMarkerImages::TMarkerImages() {
    images_[1] = MarkerImage(1);
    images_[0] = images_[1];
    images_[2] = MarkerImage(2);
    images_[3] = MarkerImage(3);
}

QPixmap TMarkerImages::Image(int index) const {
    if (index < 0 || index >= kCount)
        return {};
    return images_[index];
}

QIcon TMarkerImages::Marked(const QIcon& base, int size, int marker, bool unenforced) const {
    if (marker < 1 || marker >= kCount)
        marker = -1;
    const QString key =
        QString("%1/%2/%3/%4").arg(base.cacheKey()).arg(size).arg(marker).arg(unenforced);
    const auto it = cache_.constFind(key);
    if (it != cache_.constEnd())
        return *it;
    QIcon icon = marker < 0 ? base : QIcon(new TMarkedIconEngine(base, marker, unenforced));
    cache_.insert(key, icon);
    return icon;
}

void PaintEmblem(QPainter& p, int marker, const QRectF& box, bool unenforced) {
    if (marker < 1 || marker >= TMarkerImages::kCount)
        return;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    // A white disc under the sign keeps it readable over any icon; a grey one
    // says the protection is not enforced.
    p.setPen(Qt::NoPen);
    p.setBrush(unenforced ? QColor(170, 170, 170, 235) : QColor(255, 255, 255, 235));
    p.drawEllipse(box);
    const double inset = box.width() * 0.06;
    const QRectF sign = box.adjusted(inset, inset, -inset, -inset);
    p.save();
    p.translate(sign.topLeft());
    p.scale(sign.width() / TMarkerImages::kImageSize, sign.height() / TMarkerImages::kImageSize);
    PaintMarker(p, marker);
    p.restore();
    if (unenforced) {
        // Struck through, as a sign that does not hold.
        p.setPen(
            QPen(QColor(60, 60, 60), std::max(1.0, box.width() / 8), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(box.topRight() + QPointF(-inset * 2, inset * 2),
                   box.bottomLeft() + QPointF(inset * 2, -inset * 2));
    }
    p.restore();
}

QPixmap TMarkedIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) {
    return Render(size, mode, state);
}

QPixmap TMarkedIconEngine::scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                                        qreal) {
    return Render(size, mode, state);
}

void TMarkedIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
                              QIcon::State state) {
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap pixmap = Render(rect.size() * ratio, mode, state);
    pixmap.setDevicePixelRatio(ratio);
    painter->drawPixmap(rect, pixmap);
}

QPixmap TMarkedIconEngine::Render(const QSize& size, QIcon::Mode mode, QIcon::State state) const {
    if (size.isEmpty())
        return {};
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    // The item's own picture fills the box; the emblem covers its lower right.
    const QPixmap item = base_.pixmap(size, 1.0, mode, state);
    p.drawPixmap(QRect(QPoint(0, 0), size), item);
    const double side = TMarkerImages::EmblemSide(std::min(size.width(), size.height()));
    PaintEmblem(p, marker_, QRectF(size.width() - side, size.height() - side, side, side),
                unenforced_);
    return pixmap;
}

}  // namespace kv::ui
