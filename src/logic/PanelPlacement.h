#pragma once

// Where a shelf panel goes on screen: the screen is the one whose frame contains a reference point
// (else the main screen), and the panel is kept inside that screen's visible frame.

#include "core/Geometry.h"

#include <QList>

#include <optional>

namespace vyo {

// The visible frame of the first screen whose frame contains `reference`, else of the main
// screen; nothing when there is no screen at all.
std::optional<Rect> visibleFrameFor(Point reference, const QList<ScreenFrames> &screens,
                                    int mainIndex);

// Moves a panel's origin so that the panel lies inside `visible`. The upper bounds are applied
// last, so a panel larger than the frame is aligned to its right or top edge.
Point clampIntoVisibleFrame(Point origin, Size size, const Rect &visible);

// The visible frame of the screen that holds most of `frame`, for panels already on screen.
std::optional<Rect> visibleFrameHolding(const Rect &frame, const QList<ScreenFrames> &screens);

} // namespace vyo
