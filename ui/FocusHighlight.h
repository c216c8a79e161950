#pragma once

#include <QColor>
#include <QObject>
#include <QPalette>

class QAbstractItemView;

namespace kv::ui {

/// Draws a view's selection plainly while the view has the keyboard focus
/// and in muted colours while it has not, so the focused pane of several
/// can be told at a glance (the style draws both alike). The focused view's
/// current item is framed plainly when it is not selected.
class TFocusHighlight : public QObject {
    Q_OBJECT
public:
    /// Follows `view`'s focus from now on; owned by the view.
    static void Attach(QAbstractItemView* view);
    /// The selection colours of a view without the focus.
    static QColor UnfocusedHighlight(const QPalette& palette);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFocusHighlight(QAbstractItemView* view);
    void Apply(bool focused);

    QAbstractItemView* view_;
    QPalette focused_;
};

}  // namespace kv::ui
