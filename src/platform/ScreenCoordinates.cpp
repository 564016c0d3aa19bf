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
