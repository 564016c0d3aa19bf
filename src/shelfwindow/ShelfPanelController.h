#pragma once

// Owns the floating panel of one open shelf: presents it at a point, reports its frame and size
// and dismisses it. The shelf manager makes one controller per open shelf.
//
// This version keeps the panel's frame and its presented state without showing a window yet.

#include "core/Geometry.h"
#include "shelf/Shelf.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace vyo {

class ShelfPanelController : public QObject
{
    Q_OBJECT
public:
    // Callbacks the shelf manager supplies; each holds the manager and the shelf weakly.
    struct Actions
    {
        std::function<void()> close;
        std::function<void()> clearAll;
        std::function<void()> moved;
    };

    // The size of a new, empty shelf's panel.
    static constexpr Size emptySize{180, 210};

    ShelfPanelController(Shelf *shelf, Actions actions, QObject *parent = nullptr);

    Shelf *shelf() const { return m_shelf; }
    const Actions &actions() const { return m_actions; }

    // The panel's frame in screen coordinates (y upwards).
    Rect frame() const { return m_frame; }
    Size currentSize() const { return m_frame.size; }

    // Shows the panel with its bottom-left corner at `origin`; `reference` picks the screen.
    void present(Point origin, Point reference);
    // Fades the panel out and closes it.
    void dismiss();
    // Orders the panel to the front without taking focus.
    void bringToFront();

    bool isPresented() const { return m_presented; }
    bool isDismissed() const { return m_dismissed; }
    int frontOrderCount() const { return m_frontOrders; }

Q_SIGNALS:
    void presented();
    void dismissed();

private:
    QPointer<Shelf> m_shelf;
    Actions m_actions;
    Rect m_frame{{0, 0}, emptySize};
    bool m_presented = false;
    bool m_dismissed = false;
    int m_frontOrders = 0;
};

} // namespace vyo
