#pragma once

#include <QMargins>
#include <QObject>

class QWidget;

namespace kv::ui {

/// Fits every dialog of the application as it is shown: wide enough for its
/// whole title (the window manager cuts a title that does not fit) and inside
/// the free area of its screen. Installed once on the application.
class TDialogLook : public QObject {
    Q_OBJECT
public:
    /// Installs the one instance on the application; later calls do nothing.
    static void Install();
    /// Fits one shown dialog now.
    static void Fit(QWidget& dialog);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};

/// Brings a top-level window inside the free area of the screen that holds
/// its centre (the primary screen when none does).
void FitWindowToScreen(QWidget& window);

/// The frame the window manager draws around `window`: the real one once the
/// window is framed, before that a title bar of about two title lines and
/// thin borders.
QMargins AssumedFrame(const QWidget& window);

/// Places a top-level window that is not a dialog as dialogs open: no larger
/// than the free area of its owner's screen with its frame, centred on its
/// owner (or on the screen), title bar on screen.
void PlaceOverOwner(QWidget& window, const QWidget* owner);

/// Sizes and centres a main window for its first start on its screen,
/// leaving room for the frame the window manager will add around it.
void PlaceFirstWindow(QWidget& window);

}  // namespace kv::ui
