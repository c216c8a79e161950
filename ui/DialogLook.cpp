#include "ui/DialogLook.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QFontMetrics>
#include <QPointer>
#include <QScreen>
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

void TDialogLook::Fit(QWidget& dialog) {
    QFont titleFont = dialog.font();
    titleFont.setBold(true);
    const QFontMetrics metrics(titleFont);
    const QScreen* screen = ScreenOf(dialog);
    const int screenWidth = screen ? screen->availableGeometry().width() : 0;
    int needed = TitleWidth(metrics.horizontalAdvance(dialog.windowTitle()), metrics.height());
    if (screenWidth > 0)
        needed = std::min(needed, screenWidth - (dialog.frameGeometry().width() - dialog.width()));
    if (dialog.width() < needed) {
        const int grow = needed - dialog.width();
        if (dialog.maximumWidth() < needed)
            dialog.setMaximumWidth(needed);
        dialog.setMinimumWidth(needed);
        dialog.resize(needed, dialog.height());
        dialog.move(dialog.x() - grow / 2, dialog.y());
    }
    FitWindowToScreen(dialog);
}

bool TDialogLook::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show || event->type() == QEvent::WindowTitleChange) {
        auto* dialog = qobject_cast<QDialog*>(watched);
        if (dialog && dialog->isWindow() && dialog->isVisible())
            Fit(*dialog);
    }
    return QObject::eventFilter(watched, event);
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
