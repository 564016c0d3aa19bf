#pragma once

// The window of one open shelf: owns the floating panel with the shelf's view and command
// object, presents the panel at a point (kept inside the screen's visible frame), keeps its top
// edge in place while the content grows or shrinks, reports moves so the frame is saved, and fades
// it out on dismiss. The shelf manager makes one per open shelf through `windowMaker()`.

#include "core/Geometry.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"
#include "shelf/ShelfWindow.h"
#include "shelfwindow/ShelfPanel.h"

#include <QPointer>

#include <optional>

class QPropertyAnimation;

namespace vyo {

class ShelfCommands;
class ShelfView;

class ShelfPanelController : public ShelfWindow
{
    Q_OBJECT
public:
    // The size of a new, empty shelf's panel.
    static constexpr Size emptySize{180, 210};
    // How long the panel takes to fade in or out, in milliseconds.
    static constexpr int fadeMilliseconds = 150;

    // Closing, clearing and pinning from the panel go to `manager`.
    ShelfPanelController(Shelf *shelf, ShelfManager &manager, QObject *parent = nullptr);
    ~ShelfPanelController() override;

    // What the application gives the shelf manager, so that every open shelf gets a panel.
    static ShelfManager::WindowMaker windowMaker();

    Shelf *shelf() const { return m_shelf; }
    ShelfPanel *panel() const { return m_panel; }
    ShelfView *view() const { return m_view; }
    ShelfCommands *commands() const { return m_commands; }

    // The panel's frame in screen coordinates (y upwards).
    Rect frame() const override;
    Size currentSize() const override;
    // The top edge that stays put while the panel's height changes; empty until presented.
    std::optional<double> anchoredTop() const { return m_anchoredTop; }

    // Shows the panel with its bottom-left corner at `origin`, kept inside the visible frame of
    // the screen that contains `reference` (else the main screen). Never takes focus.
    void present(Point origin, Point reference) override;
    // Fades the panel out and closes it.
    void dismiss() override;
    // Orders the panel to the front without taking focus.
    void bringToFront() override;

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

    // Runs `action` with the manager and the shelf while the shelf is open; the panel's buttons
    // may still be pressed while it fades out after its shelf closed.
    void withShelf(void (ShelfManager::*action)(Shelf *));

    QPointer<Shelf> m_shelf;
    QPointer<ShelfManager> m_manager;
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
