#pragma once

// Icons come from the desktop's icon theme. Where the session names none (a bare X session, a
// test display), a full freedesktop theme that is installed is used instead of the nearly empty
// "hicolor", so file-type and button icons are never blank.

namespace vyo {

// Picks the fallback theme once; later calls do nothing.
void ensureIconTheme();

} // namespace vyo
