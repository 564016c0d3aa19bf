#pragma once

// The system-wide drag watcher: what the drag shake monitor needs to know about the whole desktop
// without taking part in any drag. It reports every left mouse-down outside Vyo's own windows and
// answers, when asked, how many drags have started anywhere, where the pointer is, whether the
// left button is held and which application is in front.

#include "core/Geometry.h"

#include <QObject>
#include <QString>

#include <optional>

namespace vyo {

class DragWatcher : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts watching; false when this session does not let Vyo see other applications (no X11
    // display, a Wayland session, a missing X extension). Starting again does nothing and answers
    // as the first time.
    virtual bool start() = 0;
    // Why watching is not possible, for the log; empty while it is.
    virtual QString unavailableReason() const = 0;

    // How many drags have started anywhere on the desktop since watching began. Only its changes
    // matter: a drag has begun when it differs from the value read at the mouse-down.
    virtual qint64 dragChangeCount() = 0;
    // Whether the left mouse button is held right now.
    virtual bool isLeftButtonDown() = 0;
    // The pointer's position in global screen points, y upwards.
    virtual Point pointerLocation() = 0;
    // The left button and the pointer's position together, as the 60 Hz poll reads them: one
    // question to the display server where it can answer both at once.
    struct PointerState
    {
        bool leftButtonDown = false;
        Point location;
    };
    virtual PointerState pointerState();
    // The identifier of the application in front (its desktop-file id, else its lower-cased window
    // class); nothing when no window is active or it names no application.
    virtual std::optional<QString> frontmostApplicationID() = 0;
    // Seconds of a monotonic clock (it does not jump with the wall clock).
    virtual double uptime() const;

Q_SIGNALS:
    // A left mouse-down somewhere outside Vyo's own windows.
    void leftMouseDown();
};

} // namespace vyo
