#include "ui/DialogLook.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "ui/Placement.h"

namespace kv::ui {

namespace {

QScreen* ScreenOf(const QWidget& window) {
    if (QScreen* at = QGuiApplication::screenAt(window.frameGeometry().center()))
        return at;
    return window.screen() ? window.screen() : QGuiApplication::primaryScreen();
}

}  // namespace

void TDialogLook::Install() {
    static QPointer<TDialogLook> installed;
    if (installed || !qApp)
        return;
    installed = new TDialogLook(qApp);
    qApp->installEventFilter(installed);
}

namespace {

/// The font a window manager draws titles in is not the dialog's: assume a
/// large one, bold (icewm's default theme draws 12 points).
QFont TitleFont(const QWidget& dialog) {
    QFont font = QApplication::font(&dialog);
    if (font.pointSizeF() > 0 && font.pointSizeF() < 12)
        font.setPointSizeF(12);
    font.setBold(true);
    return font;
}

}  // namespace

QMargins AssumedFrame(const QWidget& window) {
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    if (frame != client) {
        return QMargins(client.left() - frame.left(), client.top() - frame.top(),
                        frame.right() - client.right(), frame.bottom() - client.bottom());
    }
    const int title = QFontMetrics(TitleFont(window)).height() * 2;
    return QMargins(4, title, 4, 4);
}

void TDialogLook::Fit(QWidget& dialog) {
    const QFontMetrics metrics(TitleFont(dialog));
    const QScreen* screen = ScreenOf(dialog);
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QMargins frame = AssumedFrame(dialog);
    const int titleHeight = frame.top();
    const int border = frame.left();
    int needed = TitleWidth(metrics.horizontalAdvance(dialog.windowTitle()), metrics.height());
    if (!available.isEmpty())
        needed = std::min(needed, available.width() - 2 * border);
    if (dialog.width() < needed) {
        if (dialog.maximumWidth() < needed)
            dialog.setMaximumWidth(needed);
        dialog.setMinimumWidth(needed);
        dialog.resize(needed, dialog.height());
    }
    if (available.isEmpty())
        return;
    // Centred on the window it belongs to, fully on screen, title bar included.
    const QWidget* owner = dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
    const QRect ownerFrame = owner && owner->isVisible() ? owner->frameGeometry() : QRect();
    dialog.setGeometry(DialogPlace(dialog.size(), ownerFrame, available, titleHeight, border));
}

bool TDialogLook::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show || event->type() == QEvent::WindowTitleChange) {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (dialog && dialog->isWindow() && dialog->isVisible()) {
            Fit(*dialog);
            // A dialog may size itself as it shows (a message box lays out its
            // text then, after this filter): fitted again once it has.
            if (event->type() == QEvent::Show) {
                QTimer::singleShot(0, dialog, [dialog] {
                    if (dialog->isVisible())
                        Fit(*dialog);
                });
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void PlaceFirstWindow(QWidget& window) {
    const QScreen* screen = ScreenOf(window);
    const QRect available = screen ? screen->availableGeometry() : QRect();
    const QMargins frame = AssumedFrame(window);
    window.setGeometry(FirstWindowPlace(available, frame.top(), frame.left()));
}

void PlaceOverOwner(QWidget& window, const QWidget* owner) {
    const QScreen* screen = owner ? owner->screen() : window.screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QMargins frame = AssumedFrame(window);
    const QSize room = available.size().shrunkBy(frame);
    const QRect ownerFrame = owner && owner->isVisible() ? owner->frameGeometry() : QRect();
    window.setGeometry(DialogPlace(window.size().boundedTo(room), ownerFrame, available,
                                   frame.top(), frame.left()));
}

void FitWindowToScreen(QWidget& window) {
    const QScreen* screen = ScreenOf(window);
    if (!screen)
        return;
    const QRect frame = window.frameGeometry();
    const QRect fitted = FitToScreen(frame, screen->availableGeometry());
    if (fitted == frame)
        return;
    // The frame's borders stay as the window manager draws them.
    const QSize borders = frame.size() - window.size();
    if (fitted.size() != frame.size())
        window.resize(fitted.size() - borders);
    window.move(fitted.topLeft());
}

}  // namespace kv::ui
