#pragma once

// The window system of an X11 session, on Qt's own connection to the X server: EWMH properties
// and client messages for sticky panels, the compositing manager's selection, and the window tree
// for a tray icon's place. An XEmbed tray reparents the icon's window into itself some time after
// the icon asks to dock; until then the window sits where it was made, and Qt's own idea of its
// position may lag behind the X server's for a moment after. Without an X11 connection (Wayland,
// no display) it does nothing and answers false or nothing.

#include "platform/WindowSystem.h"

namespace vyo {

class X11WindowSystem final : public WindowSystem
{
public:
    void showOnAllDesktops(QWidget *window) override;
    bool hasCompositor() override;
    std::optional<QRect> trayEmbeddedGeometry(WId window) override;
};

} // namespace vyo
