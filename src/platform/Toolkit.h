#pragma once

// Choices about the toolkit made once at start-up: which display connection Qt uses, and the
// Korean texts of Qt's own dialogs and menus.

namespace vyo {

// Whether the desktop session is a Wayland one (even when this process talks X11 to XWayland).
bool isWaylandSession();

// On a Wayland session with XWayland, asks Qt for its X11 platform (native Wayland only when
// XWayland is missing): system-wide drag watching, key grabs and window placement work there.
// An explicit QT_QPA_PLATFORM is left alone. Call before the application object is made, and
// forgetPlatformChoice() once it is, so that applications Vyo opens choose for themselves.
void preferX11Platform();
void forgetPlatformChoice();

// Installs Qt's Korean texts (standard buttons, file dialogs, text-field menus); false, with a
// log line, when the translation files are missing. Call after the application object is made.
bool installKoreanToolkitTexts();

} // namespace vyo
