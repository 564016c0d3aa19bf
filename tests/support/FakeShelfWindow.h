#pragma once

// A shelf window without a window: it keeps the frame it is presented at and counts what the
// manager asks of it, so that the model and the features are tested without panels.

#include "shelf/ShelfManager.h"
#include "shelf/ShelfWindow.h"

namespace vyo::test {

class FakeShelfWindow : public ShelfWindow
{
public:
    static constexpr Size size{180, 210};

    // A window maker for a manager under test.
    static ShelfManager::WindowMaker maker()
    {
        return [](Shelf *, ShelfManager &) -> ShelfWindow * { return new FakeShelfWindow; };
    }
    static FakeShelfWindow *of(ShelfWindow *window)
    {
        return static_cast<FakeShelfWindow *>(window);
    }

    Rect frame() const override { return m_frame; }
    Size currentSize() const override { return m_frame.size; }
    void present(Point origin, Point) override
    {
        m_frame.origin = origin;
        m_presented = true;
    }
    void bringToFront() override { ++m_frontOrders; }
    void dismiss() override
    {
        m_presented = false;
        m_dismissed = true;
    }

    bool isPresented() const { return m_presented; }
    bool isDismissed() const { return m_dismissed; }
    int frontOrderCount() const { return m_frontOrders; }

private:
    Rect m_frame{{0, 0}, size};
    bool m_presented = false;
    bool m_dismissed = false;
    int m_frontOrders = 0;
};

} // namespace vyo::test
