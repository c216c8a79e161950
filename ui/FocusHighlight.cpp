#include "ui/FocusHighlight.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace kv::ui {

namespace {

/// The style marks the current item of a focused view with a faint frame
/// only; where nothing is selected (a file list just reached with F6) that
/// frame is all that shows the focus. It is drawn plainly, in the
/// selection's colour.
class TFocusFrameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!(option.state & QStyle::State_HasFocus) || (option.state & QStyle::State_Selected))
            return;
        painter->save();
        painter->setPen(QPen(option.palette.color(QPalette::Active, QPalette::Highlight), 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(option.rect).adjusted(1, 1, -1, -1));
        painter->restore();
    }
};

}  // namespace

TFocusHighlight::TFocusHighlight(QAbstractItemView* view)
    : QObject(view), view_(view), focused_(view->palette()) {}

void TFocusHighlight::Attach(QAbstractItemView* view) {
    auto* highlight = new TFocusHighlight(view);
    // Only over the plain delegate: a view with its own keeps its drawing.
    if (view->itemDelegate() &&
        view->itemDelegate()->metaObject() == &QStyledItemDelegate::staticMetaObject)
        view->setItemDelegate(new TFocusFrameDelegate(view));
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
