#pragma once

// Window-manager services for floating panels: appearing on every desktop, and whether a
// compositor runs (translucent, shadowed windows need one). On X11 through EWMH properties;
// elsewhere these do what the session allows and report false.

class QWidget;

namespace vyo {

// Asks the window manager to show the (already created) window on all desktops.
void showOnAllDesktops(QWidget *window);

// True while a compositing manager runs on the window's screen.
bool hasCompositor();

} // namespace vyo
