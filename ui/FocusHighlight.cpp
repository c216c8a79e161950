#include "ui/FocusHighlight.h"

#include <QAbstractItemView>
#include <QEvent>

namespace kv::ui {

TFocusHighlight::TFocusHighlight(QAbstractItemView* view)
    : QObject(view), view_(view), focused_(view->palette()) {}

void TFocusHighlight::Attach(QAbstractItemView* view) {
    auto* highlight = new TFocusHighlight(view);
    view->installEventFilter(highlight);
    highlight->Apply(view->hasFocus());
}

QColor TFocusHighlight::UnfocusedHighlight(const QPalette& palette) {
    // Halfway between the window's background and its mid tone: visible, never strong.
    const QColor base = palette.color(QPalette::Active, QPalette::Window);
    const QColor mid = palette.color(QPalette::Active, QPalette::Mid);
    return QColor((base.red() + mid.red()) / 2, (base.green() + mid.green()) / 2,
                  (base.blue() + mid.blue()) / 2);
}

void TFocusHighlight::Apply(bool focused) {
    QPalette palette = focused_;
    if (!focused) {
        const QColor muted = UnfocusedHighlight(focused_);
        const QColor text = focused_.color(QPalette::Active, QPalette::Text);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, QPalette::Highlight, muted);
            palette.setColor(group, QPalette::HighlightedText, text);
        }
    }
    view_->setPalette(palette);
}

bool TFocusHighlight::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_) {
        if (event->type() == QEvent::FocusIn)
            Apply(true);
        else if (event->type() == QEvent::FocusOut)
            Apply(false);
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kv::ui
