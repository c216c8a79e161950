#pragma once

#include <QLabel>

namespace kv::ui {

/// A one-line label for a status bar that may be narrower than its text: it
/// asks for its whole text's width but shrinks to `minimumChars` characters
/// (or its short text) when the window is narrow. A text that does not fit
/// gives way to the short text, if one is set, and is elided (`mode`) when
/// that does not fit either. A cut text is shown whole as the tooltip unless
/// a tooltip of its own is set.
class TElidedLabel : public QLabel {
    Q_OBJECT
public:
    TElidedLabel(Qt::TextElideMode mode, int minimumChars, QWidget* parent = nullptr);

    /// What is shown instead of the text when the text does not fit (empty:
    /// the text itself, elided).
    void SetShortText(const QString& text);

    QSize minimumSizeHint() const override;
    /// The text as drawn at the label's present width.
    QString ShownText() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode_;
    int minimumChars_;
    QString shortText_;
};

}  // namespace kv::ui
