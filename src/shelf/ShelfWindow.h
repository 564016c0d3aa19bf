#pragma once

// The window of one open shelf, as the shelf manager sees it: where it stands, how large it
// wants to be, and what the manager asks of it. The window layer makes one per open shelf; a
// manager without a window maker keeps its shelves without windows.

#include "core/Geometry.h"

#include <QObject>

namespace vyo {

class ShelfWindow : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The window's frame in screen coordinates (y upwards).
    virtual Rect frame() const = 0;
    // The size the window has, or takes when it is presented.
    virtual Size currentSize() const = 0;
    // Shows the window with its bottom-left corner at `origin`, kept inside the visible frame of
    // the screen that contains `reference`. Never takes focus.
    virtual void present(Point origin, Point reference) = 0;
    // Orders the window to the front without taking focus.
    virtual void bringToFront() = 0;
    // Fades the window out and closes it; the manager deletes this object afterwards.
    virtual void dismiss() = 0;

Q_SIGNALS:
    // The user moved the window, or it moved to fit its screen: its frame is worth saving.
    void moved();
};

} // namespace vyo
