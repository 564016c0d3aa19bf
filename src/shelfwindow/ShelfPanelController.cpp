#include "shelfwindow/ShelfPanelController.h"

#include "core/Defaults.h"
#include "logic/PanelPlacement.h"
#include "platform/Desktop.h"
#include "platform/ScreenCoordinates.h"
#include "platform/WindowSystem.h"
#include "shelfwindow/ShelfCommands.h"
#include "shelfwindow/ShelfPanel.h"
#include "shelfwindow/ShelfView.h"

#include <QPropertyAnimation>

namespace vyo {

ShelfPanelController::ShelfPanelController(Shelf *shelf, ShelfManager &manager, QObject *parent)
    : ShelfWindow(parent)
    , m_shelf(shelf)
    , m_manager(&manager)
{
    const auto close = [this] { withShelf(&ShelfManager::close); };
    m_panel = new ShelfPanel(shelf);
    m_commands = new ShelfCommands(shelf, this);
    m_commands->panel = m_panel.data();
    connect(m_commands, &ShelfCommands::emptied, this, close);

    m_view = new ShelfView(shelf, m_commands);
    connect(m_view, &ShelfView::closeRequested, this, close);
    connect(m_view, &ShelfView::clearAllRequested, this,
            [this] { withShelf(&ShelfManager::clearAll); });
    connect(m_view, &ShelfView::pinRequested, this, [this] { withShelf(&ShelfManager::pin); });
    connect(m_view, &ShelfView::unpinRequested, this, [this] { withShelf(&ShelfManager::unpin); });
    m_view->removeAfterDragOut = Defaults::shared().removeAfterDragOut();
    connect(&Defaults::shared(), &Defaults::changed, m_view, [view = m_view](const QString &key) {
        if (key == QLatin1String(DefaultsKey::removeAfterDragOut))
            view->removeAfterDragOut = Defaults::shared().removeAfterDragOut();
    });

    m_panel->setContent(m_view);
    m_panel->commands = m_commands;
    connect(m_panel, &ShelfPanel::closeRequested, this, close);
    connect(m_panel, &ShelfPanel::copyRequested, this, [this] {
        if (m_shelf)
            m_shelf->copyToPasteboard();
    });
    connect(m_view, &ShelfView::preferredSizeChanged, this,
            &ShelfPanelController::contentSizeChanged);
    connect(m_panel, &ShelfPanel::moved, this, &ShelfPanelController::panelMoved);
}

ShelfPanelController::~ShelfPanelController()
{
    // A panel still fading out closes and deletes itself when the fade ends.
    if (m_panel && !m_dismissed)
        delete m_panel;
}

ShelfManager::WindowMaker ShelfPanelController::windowMaker()
{
    return [](Shelf *shelf, ShelfManager &manager) -> ShelfWindow * {
        return new ShelfPanelController(shelf, manager);
    };
}

void ShelfPanelController::withShelf(void (ShelfManager::*action)(Shelf *))
{
    if (m_manager && m_shelf && m_manager->shelves().contains(m_shelf))
        (m_manager->*action)(m_shelf);
}

Rect ShelfPanelController::frame() const
{
    if (!m_panel)
        return {{0, 0}, emptySize};
    return fromQt(QRectF(m_panel->geometry()));
}

Size ShelfPanelController::currentSize() const
{
    const QSize size = m_view ? m_view->preferredSize() : QSize(180, 210);
    return {double(size.width()), double(size.height())};
}

void ShelfPanelController::setFrame(const Rect &frame)
{
    m_placing = true;
    m_panel->setGeometry(toQt(frame).toRect());
    m_placing = false;
}

void ShelfPanelController::present(Point origin, Point reference)
{
    if (!m_panel)
        return;
    const Size size = currentSize();
    if (const auto visible = visibleFrameFor(reference, screenFrames(), mainScreenIndex()))
        origin = clampIntoVisibleFrame(origin, size, *visible);
    setFrame({origin, size});
    m_anchoredTop = origin.y + size.height;

    if (m_fade)
        m_fade->stop();
    m_panel->setWindowOpacity(0);
    m_panel->show();
    m_panel->raise();
    Desktop::shared().windowSystem().showOnAllDesktops(m_panel);
    // The window manager may have placed the window on its own while mapping it.
    setFrame({origin, size});
    auto *fade = new QPropertyAnimation(m_panel, "windowOpacity", m_panel);
    fade->setDuration(fadeMilliseconds);
    fade->setStartValue(0.0);
    fade->setEndValue(1.0);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
    m_fade = fade;

    m_presented = true;
    m_dismissed = false;
    Q_EMIT presented();
}

void ShelfPanelController::dismiss()
{
    m_presented = false;
    m_dismissed = true;
    Q_EMIT dismissed();
    if (!m_panel)
        return;
    // No more move reports while the panel fades out.
    disconnect(m_panel, nullptr, this, nullptr);
    if (m_fade)
        m_fade->stop();
    ShelfPanel *panel = m_panel;
    panel->setAttribute(Qt::WA_DeleteOnClose);
    if (!panel->isVisible()) {
        panel->close();
        return;
    }
    auto *fade = new QPropertyAnimation(panel, "windowOpacity", panel);
    fade->setDuration(fadeMilliseconds);
    fade->setStartValue(panel->windowOpacity());
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, panel, &QWidget::close);
    fade->start(QAbstractAnimation::DeleteWhenStopped);
    m_fade = fade;
}

void ShelfPanelController::bringToFront()
{
    ++m_frontOrders;
    if (m_panel && m_panel->isVisible())
        m_panel->raise();
}

void ShelfPanelController::contentSizeChanged()
{
    if (!m_panel)
        return;
    const Size size = currentSize();
    if (!m_anchoredTop) {
        m_panel->resize(int(size.width), int(size.height));
        return;
    }
    const Rect current = frame();
    Point origin{current.minX(), *m_anchoredTop - size.height};
    if (const auto visible = visibleFrameHolding(current, screenFrames()))
        origin = clampIntoVisibleFrame(origin, size, *visible);
    setFrame({origin, size});
    // A panel pushed up to fit keeps its new top edge when it shrinks again, and the manager
    // learns of the move like any other.
    const double top = origin.y + size.height;
    if (top != *m_anchoredTop) {
        m_anchoredTop = top;
        Q_EMIT moved();
    }
}

void ShelfPanelController::panelMoved()
{
    if (m_placing || !m_panel || !m_panel->isVisible())
        return;
    m_anchoredTop = frame().maxY();
    Q_EMIT moved();
}

} // namespace vyo
