#include "logic/PanelPlacement.h"

namespace vyo {

std::optional<Rect> visibleFrameFor(Point reference, const QList<ScreenFrames> &screens,
                                    int mainIndex)
{
    for (const ScreenFrames &screen : screens) {
        if (screen.frame.contains(reference))
            return screen.visibleFrame;
    }
    if (mainIndex >= 0 && mainIndex < screens.size())
        return screens[mainIndex].visibleFrame;
    return std::nullopt;
}

Point clampIntoVisibleFrame(Point origin, Size size, const Rect &visible)
{
    const double x = std::min(std::max(origin.x, visible.minX()), visible.maxX() - size.width);
    const double y = std::min(std::max(origin.y, visible.minY()), visible.maxY() - size.height);
    return {x, y};
}

std::optional<Rect> visibleFrameHolding(const Rect &frame, const QList<ScreenFrames> &screens)
{
    std::optional<Rect> best;
    double bestArea = 0;
    for (const ScreenFrames &screen : screens) {
        const double w = std::min(frame.maxX(), screen.frame.maxX()) -
                         std::max(frame.minX(), screen.frame.minX());
        const double h = std::min(frame.maxY(), screen.frame.maxY()) -
                         std::max(frame.minY(), screen.frame.minY());
        if (w > 0 && h > 0 && w * h > bestArea) {
            bestArea = w * h;
            best = screen.visibleFrame;
        }
    }
    return best;
}

} // namespace vyo
