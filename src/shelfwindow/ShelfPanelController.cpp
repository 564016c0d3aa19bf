#include "shelfwindow/ShelfPanelController.h"

#include "shelf/Shelf.h"

namespace vyo {

ShelfPanelController::ShelfPanelController(Shelf *shelf, Actions actions, QObject *parent)
    : QObject(parent)
    , m_shelf(shelf)
    , m_actions(std::move(actions))
{}

void ShelfPanelController::present(Point origin, Point reference)
{
    Q_UNUSED(reference);
    m_frame.origin = origin;
    m_presented = true;
    m_dismissed = false;
    Q_EMIT presented();
}

void ShelfPanelController::dismiss()
{
    m_presented = false;
    m_dismissed = true;
    Q_EMIT dismissed();
}

void ShelfPanelController::bringToFront()
{
    ++m_frontOrders;
}

} // namespace vyo
