#pragma once

#include <QColor>
#include <QLabel>

namespace kv {

/// A caption label that behaves as a link: underlined in MouseMoveColor while
/// the pointer is over it, MouseDownColor while a button is held on it, back to
/// its own colour when the pointer leaves. A release over it is a click.
class TCoolLabel : public QLabel {
    Q_OBJECT
public:
    explicit TCoolLabel(const QString& text, QWidget* parent = nullptr);

    void SetMouseMoveColor(const QColor& color) { moveColor_ = color; }
    void SetMouseDownColor(const QColor& color) { downColor_ = color; }
    QColor MouseMoveColor() const { return moveColor_; }
    QColor MouseDownColor() const { return downColor_; }
    /// The colour the text is drawn in now.
    QColor TextColor() const;
    bool Underlined() const { return font().underline(); }

signals:
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Paint(const QColor& color, bool underline);

    QColor moveColor_{Qt::blue};
    QColor downColor_{Qt::blue};
    QColor normalColor_{Qt::black};
};

}  // namespace kv
