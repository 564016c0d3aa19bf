#include "logic/NotchGeometry.h"

namespace vyo::NotchGeometry {

std::optional<Rect> notchRect(const NotchScreen &screen)
{
    if (!(screen.safeAreaTopInset > 0) || !screen.auxiliaryTopLeftArea ||
        !screen.auxiliaryTopRightArea)
        return std::nullopt;
    const double left = screen.auxiliaryTopLeftArea->maxX();
    const double right = screen.auxiliaryTopRightArea->minX();
    // Areas that overlap or swap sides describe no notch; a zero-wide panel would be a fault.
    if (!(right > left))
        return std::nullopt;
    return Rect{{screen.frame.minX() + left, screen.frame.maxY() - screen.safeAreaTopInset},
                {right - left, screen.safeAreaTopInset}};
}

Rect virtualNotchRect(const Rect &screenFrame)
{
    return {{screenFrame.midX() - virtualNotchSize.width / 2,
             screenFrame.maxY() - virtualNotchSize.height},
            virtualNotchSize};
}

QList<Rect> dropZoneRects(const QList<NotchScreen> &screens)
{
    QList<Rect> rects;
    for (const NotchScreen &screen : screens) {
        if (const auto rect = notchRect(screen))
            rects.append(*rect);
    }
    if (rects.isEmpty() && !screens.isEmpty() && !screens.first().frame.isEmpty())
        rects.append(virtualNotchRect(screens.first().frame));
    return rects;
}

Rect targetedFrame(const Rect &notch)
{
    const double width = notch.width() + targetedExtraWidth;
    const double height = notch.height() + targetedExtraHeight;
    return {{notch.midX() - width / 2, notch.minY() - targetedExtraHeight}, {width, height}};
}

Rect shelfAnchor(const Rect &notch)
{
    return notch.offsetBy(0, -6);
}

} // namespace vyo::NotchGeometry
