#pragma once

// The one conversion between the model's screen coordinates (points, y upwards, origin at the
// bottom-left corner of the primary screen) and Qt's (y downwards, origin at the top-left corner
// of the primary screen).

#include "core/Geometry.h"

#include <QPointF>
#include <QRectF>

namespace vyo {

// Height of the primary screen in points; 0 when there is no screen.
double primaryScreenHeight();

Point fromQt(const QPointF &point, double primaryHeight = primaryScreenHeight());
QPointF toQt(const Point &point, double primaryHeight = primaryScreenHeight());
Rect fromQt(const QRectF &rect, double primaryHeight = primaryScreenHeight());
QRectF toQt(const Rect &rect, double primaryHeight = primaryScreenHeight());

// The pointer's position in model coordinates.
Point pointerLocation();
// A position in the display server's own pixels (as X11 reports the pointer) in model
// coordinates, mapped through the scale of the screen it is on as QCursor::pos() maps it.
Point fromNativePixels(const QPoint &pixels);

} // namespace vyo

#include <QList>

namespace vyo {

// Every screen in the system's order; the primary screen is `mainScreenIndex`.
QList<ScreenFrames> screenFrames();
int mainScreenIndex();

} // namespace vyo
