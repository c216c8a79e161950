#pragma once

#include <QIcon>

namespace kv::ui {

/// The program's own icon (windows, the desktop entry): a blue shield with a keyhole.
QIcon ApplicationIcon();

/// The tray icon for the displayed protection state: a green shield with a
/// check mark while protection is on, a grey crossed-out shield while it is off.
QIcon TrayPicture(bool protectionOn);

}  // namespace kv::ui
