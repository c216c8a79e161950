#pragma once

#include <QRect>
#include <QSize>

namespace kv::ui {

/// The main window's size at its first start on a screen whose free area is
/// `available`: three quarters of it each way, never below the designed
/// 729 x 444 unless the screen itself is smaller.
QSize FirstWindowSize(const QRect& available);

/// The main window's client area at its first start: sized as above for the
/// free area less the frame the window manager adds (`titleHeight` above,
/// `border` on the other sides) and centred, so that the frame is on screen.
QRect FirstWindowPlace(const QRect& available, int titleHeight, int border);

/// A window frame brought inside the free area of its screen: a frame wider
/// or taller than the area shrinks to it, and a frame that reaches past an
/// edge moves back in. A frame that fits is returned unchanged.
QRect FitToScreen(const QRect& frame, const QRect& available);

/// The width a dialog needs so that the window manager can show its whole
/// title: the title's text width plus room for the icon and the buttons of
/// the title bar, which grows with the font's line height.
int TitleWidth(int textWidth, int lineHeight);

/// Where a dialog's client area of `size` opens: centred on `owner` (the
/// owner window's frame; empty: on `available`), kept inside `available`
/// together with the frame the window manager adds (`titleHeight` above,
/// `border` on the other sides), so that its title bar is never off screen.
QRect DialogPlace(const QSize& size, const QRect& owner, const QRect& available, int titleHeight,
                  int border);

}  // namespace kv::ui
