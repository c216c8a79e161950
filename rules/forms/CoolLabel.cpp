#include "rules/forms/CoolLabel.h"

#include <QMouseEvent>

namespace kv {

TCoolLabel::TCoolLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setCursor(Qt::WhatsThisCursor);
    setWordWrap(true);
    Paint(normalColor_, false);
}

QColor TCoolLabel::TextColor() const {
    return palette().color(QPalette::WindowText);
}

void TCoolLabel::Paint(const QColor& color, bool underline) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
    QFont f = font();
    f.setUnderline(underline);
    setFont(f);
}

void TCoolLabel::enterEvent(QEnterEvent* event) {
    if (!Underlined())  // a second enter must not take the hover colour as normal
        normalColor_ = TextColor();
    Paint(moveColor_, true);
    QLabel::enterEvent(event);
}

void TCoolLabel::leaveEvent(QEvent* event) {
    Paint(normalColor_, false);
    QLabel::leaveEvent(event);
}

void TCoolLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        Paint(downColor_, true);
    QLabel::mousePressEvent(event);
}

void TCoolLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    Paint(moveColor_, true);
    if (rect().contains(event->position().toPoint()))
        emit clicked();
}

}  // namespace kv
