#pragma once

// What floating panels and the tray item ask of the window system: appearing on every desktop,
// whether a compositor runs (translucent, shadowed windows need one) and where a tray host shows
// a window it has taken in. On X11 through EWMH properties and the window tree; elsewhere these
// do nothing and answer false or nothing.

#include <QRect>
#include <QWindow>

#include <optional>

class QWidget;

namespace vyo {

class WindowSystem
{
public:
    virtual ~WindowSystem() = default;

    // Asks the window manager to show the (already created) window on all desktops.
    virtual void showOnAllDesktops(QWidget *window) = 0;
    // Whether a compositing manager runs on the window's screen.
    virtual bool hasCompositor() = 0;
    // The window's frame in Qt's global coordinates, as the window system has it, once a tray
    // host has taken it in (an XEmbed tray reparents the icon's window some time after the icon
    // asks to dock); nothing before that and for a window that is not created.
    virtual std::optional<QRect> trayEmbeddedGeometry(WId window) = 0;
};

} // namespace vyo
