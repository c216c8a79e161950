#pragma once

#include <QMenu>
#include <QObject>
#include <QPointer>

class QAbstractItemView;

namespace kv::ui {

/// Opens a view's context menu from the keyboard: the context-menu key and
/// Shift+F10 pop it up under the view's current item (at the top of the view
/// when there is none), as a right click pops it up under the pointer.
class TKeyboardMenu : public QObject {
    Q_OBJECT
public:
    /// Watches `view`; `menu` is not owned and may be set later.
    TKeyboardMenu(QAbstractItemView* view, QMenu* menu);
    void SetMenu(QMenu* menu) { menu_ = menu; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Popup();

    QAbstractItemView* view_;
    QPointer<QMenu> menu_;
};

/// The widget of `window` that the keyboard works in: its focus widget, or,
/// while the menu bar holds the focus (Alt or a menu's letter was pressed),
/// the widget that had the focus before, to which the menu bar gives it back.
const QWidget* KeyboardFocus(const QWidget& window);

}  // namespace kv::ui
