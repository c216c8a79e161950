#include "ui/Placement.h"

#include <algorithm>

namespace kv::ui {

namespace {
constexpr QSize kDesignedSize(729, 444);
}  // namespace

QSize FirstWindowSize(const QRect& available) {
    if (available.isEmpty())
        return kDesignedSize;
    const QSize wanted(available.width() * 3 / 4, available.height() * 3 / 4);
    return wanted.expandedTo(kDesignedSize).boundedTo(available.size());
}

QRect FirstWindowPlace(const QRect& available, int titleHeight, int border) {
    if (available.isEmpty())
        return QRect(QPoint(0, 0), kDesignedSize);
    const QRect inside = available.adjusted(border, titleHeight, -border, -border);
    return DialogPlace(FirstWindowSize(inside), {}, available, titleHeight, border);
}

QRect FitToScreen(const QRect& frame, const QRect& available) {
    if (available.isEmpty())
        return frame;
    QRect fitted(frame.topLeft(), frame.size().boundedTo(available.size()));
    if (fitted.right() > available.right())
        fitted.moveRight(available.right());
    if (fitted.bottom() > available.bottom())
        fitted.moveBottom(available.bottom());
    if (fitted.left() < available.left())
        fitted.moveLeft(available.left());
    if (fitted.top() < available.top())
        fitted.moveTop(available.top());
    return fitted;
}

QRect DialogPlace(const QSize& size, const QRect& owner, const QRect& available, int titleHeight,
                  int border) {
    const QRect around = owner.isEmpty() ? available : owner;
    QRect frame(QPoint(0, 0),
                QSize(size.width() + 2 * border, size.height() + titleHeight + border));
    frame.moveCenter(around.center());
    frame = FitToScreen(frame, available);
    return QRect(frame.topLeft() + QPoint(border, titleHeight),
                 frame.size() - QSize(2 * border, titleHeight + border));
}

int TitleWidth(int textWidth, int lineHeight) {
    // Icon, close button and the gaps between them: about six line heights.
    return textWidth + 6 * std::max(lineHeight, 1);
}

}  // namespace kv::ui
