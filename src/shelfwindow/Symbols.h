#pragma once

// The symbol images of the shelf window, by the names the rest of the program uses
// ("xmark.circle.fill", "qrcode", "link", …), taken from the icon theme. Each name maps to a few
// freedesktop icon names tried in order; an icon that no theme has is drawn as a simple glyph, so
// a button never ends up blank.

#include <QIcon>
#include <QString>

namespace vyo {

QIcon symbol(const QString &name);

} // namespace vyo
