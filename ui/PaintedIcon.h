#pragma once

#include <QIcon>
#include <functional>

class QPainter;

namespace kv::ui {

/// Draws a picture into the box (0, 0)-(20, 20) of the painter's coordinates.
using IconPainter = std::function<void(QPainter&)>;

/// An icon drawn by code and painted afresh at every size and scale it is
/// asked for, so that it stays sharp at 1x, 2x and any size in between.
QIcon PaintedIcon(IconPainter draw);

/// The theme's icon of that name where the desktop provides one, else `ours`.
QIcon ThemeIcon(const char* name, const QIcon& ours);

}  // namespace kv::ui
