#pragma once

// Owns the floating panel of one open shelf, with the shelf's view and command object: presents
// the panel at a point (kept inside the screen's visible frame), keeps its top edge in place while
// the content grows or shrinks, reports moves so the frame is saved, and fades it out on dismiss.
// The shelf manager makes one controller per open shelf.

#include "core/Geometry.h"
#include "shelf/Shelf.h"
#include "shelfwindow/ShelfPanel.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QPropertyAnimation;

namespace vyo {

class ShelfCommands;
class ShelfView;

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
        std::function<void()> pin;
        std::function<void()> unpin;
    };

    // The size of a new, empty shelf's panel.
    static constexpr Size emptySize{180, 210};
    // How long the panel takes to fade in or out, in milliseconds.
    static constexpr int fadeMilliseconds = 150;

    ShelfPanelController(Shelf *shelf, Actions actions, QObject *parent = nullptr);
    ~ShelfPanelController() override;

    Shelf *shelf() const { return m_shelf; }
    const Actions &actions() const { return m_actions; }
    ShelfPanel *panel() const { return m_panel; }
    ShelfView *view() const { return m_view; }
    ShelfCommands *commands() const { return m_commands; }

    // The panel's frame in screen coordinates (y upwards).
    Rect frame() const;
    Size currentSize() const;
    // The top edge that stays put while the panel's height changes; empty until presented.
    std::optional<double> anchoredTop() const { return m_anchoredTop; }

    // Shows the panel with its bottom-left corner at `origin`, kept inside the visible frame of
    // the screen that contains `reference` (else the main screen). Never takes focus.
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
    void setFrame(const Rect &frame);
    void contentSizeChanged();
    void panelMoved();

    QPointer<Shelf> m_shelf;
    Actions m_actions;
    QPointer<ShelfPanel> m_panel;
    ShelfCommands *m_commands = nullptr;
    ShelfView *m_view = nullptr;
    std::optional<double> m_anchoredTop;
    QPointer<QPropertyAnimation> m_fade;
    bool m_presented = false;
    bool m_dismissed = false;
    bool m_placing = false;
    int m_frontOrders = 0;
};

} // namespace vyo
