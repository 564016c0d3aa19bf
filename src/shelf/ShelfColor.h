#pragma once

// A shelf's colour tag. The raw value is what the state file stores; the label is what the colour
// menu shows.

#include <QColor>
#include <QList>
#include <QString>

#include <optional>

namespace vyo {

enum class ShelfColor { none, red, orange, yellow, green, blue, purple, gray };

// Every colour in menu order.
QList<ShelfColor> allShelfColors();
QString rawValue(ShelfColor color);
std::optional<ShelfColor> shelfColorFromRawValue(QStringView raw);
QString label(ShelfColor color);
// The tint that marks a tagged shelf; transparent for none.
QColor tint(ShelfColor color);

} // namespace vyo
