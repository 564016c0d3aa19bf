#pragma once

// Where the drop zones at the top of the screen go: the notch rule on a screen's safe-area inset
// and the unobscured areas beside the notch, and the virtual notch that Linux screens, which
// report none, get instead. Pure geometry in screen coordinates (points, y upwards).

#include "core/Geometry.h"

#include <QList>

#include <optional>

namespace vyo {

// What the drop zones need to know about one screen.
struct NotchScreen
{
    Rect frame;
    // Height of the strip at the top that the camera housing obscures; 0 on ordinary screens.
    double safeAreaTopInset = 0;
    // The unobscured areas left and right of the notch, relative to the screen's origin.
    std::optional<Rect> auxiliaryTopLeftArea;
    std::optional<Rect> auxiliaryTopRightArea;
};

namespace NotchGeometry {

inline constexpr Size virtualNotchSize{200, 32};
// How much a drop zone grows while a drag hovers over it.
inline constexpr double targetedExtraWidth = 120;
inline constexpr double targetedExtraHeight = 64;

// The notch of a screen: the gap between the two unobscured top areas, along the top edge and as
// tall as the inset. Nothing when the screen has no notch (no inset, an area missing, or areas
// that leave no gap).
std::optional<Rect> notchRect(const NotchScreen &screen);

// A notch-sized zone centred on the top edge of a screen's full frame.
Rect virtualNotchRect(const Rect &screenFrame);

// The drop zones of a set of screens, in the screens' order. When no screen reports a notch, the
// primary screen (the first) gets a virtual one; no screens, no zones.
QList<Rect> dropZoneRects(const QList<NotchScreen> &screens);

// A zone's frame while a drag hovers over it: 60 points wider on each side and 64 points taller
// downwards, top edge unchanged.
Rect targetedFrame(const Rect &notch);

// The anchor a shelf opened by a drop is placed under: the notch moved 6 points down, so that
// with the placement's 8 points the shelf's top edge is 14 points below the notch.
Rect shelfAnchor(const Rect &notch);

} // namespace NotchGeometry

} // namespace vyo
