#pragma once

// Screen geometry of the model: points in global screen coordinates with y upwards and the origin
// at the bottom-left corner of the primary screen. The one conversion to and from the toolkit's
// y-down coordinates lives in the platform layer (platform/ScreenCoordinates.h).

#include <algorithm>

namespace vyo {

struct Point
{
    double x = 0;
    double y = 0;
    friend bool operator==(const Point &, const Point &) = default;
};

struct Size
{
    double width = 0;
    double height = 0;
    friend bool operator==(const Size &, const Size &) = default;
};

struct Rect
{
    Point origin;
    Size size;

    constexpr double minX() const { return origin.x; }
    constexpr double maxX() const { return origin.x + size.width; }
    constexpr double midX() const { return origin.x + size.width / 2; }
    constexpr double minY() const { return origin.y; }
    constexpr double maxY() const { return origin.y + size.height; }
    constexpr double midY() const { return origin.y + size.height / 2; }
    constexpr double width() const { return size.width; }
    constexpr double height() const { return size.height; }
    constexpr bool isEmpty() const { return size.width <= 0 || size.height <= 0; }

    // Half-open containment, as screens use it: the maximum edges belong to the next screen.
    constexpr bool contains(Point p) const
    {
        return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
    }
    constexpr bool intersects(const Rect &o) const
    {
        return minX() < o.maxX() && o.minX() < maxX() && minY() < o.maxY() && o.minY() < maxY();
    }
    constexpr Rect offsetBy(double dx, double dy) const
    {
        return {{origin.x + dx, origin.y + dy}, size};
    }

    friend bool operator==(const Rect &, const Rect &) = default;
};

// A screen's full frame and its visible frame (without panels and docks), in model coordinates.
struct ScreenFrames
{
    Rect frame;
    Rect visibleFrame;
    friend bool operator==(const ScreenFrames &, const ScreenFrames &) = default;
};

} // namespace vyo
