#include "ui/KeyboardMenu.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>

namespace kv::ui {

namespace {

/// Remembers the widget that had the focus when a menu bar took it.
class TMenuBarFocus : public QObject {
public:
    static TMenuBarFocus& Instance() {
        static QPointer<TMenuBarFocus> instance;
        if (!instance)
            instance = new TMenuBarFocus(qApp);
        return *instance;
    }
    const QWidget* Before() const { return before_; }

private:
    explicit TMenuBarFocus(QObject* parent) : QObject(parent) {
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
            if (qobject_cast<QMenuBar*>(now) && !qobject_cast<QMenuBar*>(old))
                before_ = old;
        });
    }
    QPointer<QWidget> before_;
};

}  // namespace

TKeyboardMenu::TKeyboardMenu(QAbstractItemView* view, QMenu* menu)
    : QObject(view), view_(view), menu_(menu) {
    view_->installEventFilter(this);
    TMenuBarFocus::Instance();  // watching before a menu bar takes the focus
}

bool TKeyboardMenu::eventFilter(QObject* watched, QEvent* event) {
    if (watched != view_)
        return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers mods =
            key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
        if ((key->key() == Qt::Key_Menu && mods == Qt::NoModifier) ||
            (key->key() == Qt::Key_F10 && mods == Qt::ShiftModifier)) {
            Popup();
            return true;
        }
    } else if (event->type() == QEvent::ContextMenu &&
               static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        Popup();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TKeyboardMenu::Popup() {
    if (!menu_)
        return;
    QRect at = view_->visualRect(view_->currentIndex());
    QPoint pos = at.isValid() ? at.bottomLeft() + QPoint(at.height() / 2, 0) : QPoint(4, 4);
    pos.setX(std::clamp(pos.x(), 0, std::max(0, view_->viewport()->width() - 1)));
    pos.setY(std::clamp(pos.y(), 0, std::max(0, view_->viewport()->height() - 1)));
    menu_->popup(view_->viewport()->mapToGlobal(pos));
}

const QWidget* KeyboardFocus(const QWidget& window) {
    TMenuBarFocus& tracker = TMenuBarFocus::Instance();
    const QWidget* focus = window.focusWidget();
    if (qobject_cast<const QMenuBar*>(focus) && tracker.Before() &&
        tracker.Before()->window() == &window)
        return tracker.Before();
    return focus;
}

}  // namespace kv::ui
