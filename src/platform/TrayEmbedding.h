#pragma once

// Where a tray host shows a window it has taken in. An XEmbed tray reparents the icon's window
// into itself some time after the icon asks to dock; until then the window sits where it was
// made, and Qt's own idea of its position may lag behind the X server's for a moment after.

#include <QRect>
#include <QWindow>

#include <optional>

namespace vyo {

// The window's frame in Qt's global coordinates, as the X server has it, once it is mapped
// inside another window (a tray host); nothing before that, for a window that is not created,
// and off X11.
std::optional<QRect> trayEmbeddedGeometry(WId window);

} // namespace vyo
