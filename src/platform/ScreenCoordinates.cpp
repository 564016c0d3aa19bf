#include "platform/ScreenCoordinates.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace vyo {

double primaryScreenHeight()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().height() : 0;
}

Point fromQt(const QPointF &point, double primaryHeight)
{
    return {point.x(), primaryHeight - point.y()};
}

QPointF toQt(const Point &point, double primaryHeight)
{
    return {point.x, primaryHeight - point.y};
}

Rect fromQt(const QRectF &rect, double primaryHeight)
{
    return {{rect.x(), primaryHeight - rect.y() - rect.height()}, {rect.width(), rect.height()}};
}

QRectF toQt(const Rect &rect, double primaryHeight)
{
    return {rect.origin.x, primaryHeight - rect.maxY(), rect.size.width, rect.size.height};
}

Point pointerLocation()
{
    return fromQt(QPointF(QCursor::pos()));
}

Point fromNativePixels(const QPoint &pixels)
{
    // A scaled screen keeps its top-left corner in pixels and divides distances from it.
    const auto mapped = [&pixels](const QScreen *screen) {
        const QPoint origin = screen->geometry().topLeft();
        return (pixels - origin) / screen->devicePixelRatio() + origin;
    };
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens) {
        const QRect geometry = screen->geometry();
        const QRect native(geometry.topLeft(), geometry.size() * screen->devicePixelRatio());
        if (native.contains(pixels))
            return fromQt(QPointF(mapped(screen)));
    }
    const QScreen *primary = QGuiApplication::primaryScreen();
    return fromQt(QPointF(primary ? mapped(primary) : pixels));
}

} // namespace vyo

namespace vyo {

QList<ScreenFrames> screenFrames()
{
    QList<ScreenFrames> frames;
    const double height = primaryScreenHeight();
    for (const QScreen *screen : QGuiApplication::screens())
        frames.append({fromQt(QRectF(screen->geometry()), height),
                       fromQt(QRectF(screen->availableGeometry()), height)});
    return frames;
}

int mainScreenIndex()
{
    const qsizetype index = QGuiApplication::screens().indexOf(QGuiApplication::primaryScreen());
    return int(index);
}

} // namespace vyo
