#include "ui/ElidedLabel.h"

#include <QEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>
#include <algorithm>

namespace kv::ui {

TElidedLabel::TElidedLabel(Qt::TextElideMode mode, int minimumChars, QWidget* parent)
    : QLabel(parent), mode_(mode), minimumChars_(minimumChars) {
    setTextFormat(Qt::PlainText);
}

void TElidedLabel::SetShortText(const QString& text) {
    if (text == shortText_)
        return;
    shortText_ = text;
    updateGeometry();
    update();
}

QSize TElidedLabel::minimumSizeHint() const {
    const QMargins margins = contentsMargins();
    const int chars = std::max(fontMetrics().averageCharWidth() * minimumChars_,
                               fontMetrics().horizontalAdvance(shortText_));
    const int width = chars + margins.left() + margins.right() + 2 * margin();
    return {std::min(width, sizeHint().width()), QLabel::minimumSizeHint().height()};
}

QString TElidedLabel::ShownText() const {
    const int room = contentsRect().width() - 2 * margin();
    if (fontMetrics().horizontalAdvance(text()) <= room)
        return text();
    return fontMetrics().elidedText(shortText_.isEmpty() ? text() : shortText_, mode_, room);
}

bool TElidedLabel::event(QEvent* event) {
    // The whole text as the tooltip while it is cut, unless one was set.
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        if (ShownText() != text())
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

void TElidedLabel::paintEvent(QPaintEvent* event) {
    // The frame as a label draws it, the text cut to the room there is.
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    style()->drawItemText(&painter, room, QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), ShownText(), foregroundRole());
}

}  // namespace kv::ui
