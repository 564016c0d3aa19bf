#include "shelfwindow/DragSource.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <cmath>

namespace vyo {

namespace {

// A pile of up to five item icons, 64 points each: the first centred on the pointer (the hot
// spot is its middle), each next one 4 points further right and down, the first on top.
QPixmap dragPixmap(const QList<ShelfItem> &items, qreal ratio)
{
    const int shown = int(std::min<qsizetype>(items.size(), 5));
    const int side = 64 + 4 * (shown - 1);
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    for (int i = shown - 1; i >= 0; --i)
        items[i].icon().paint(&painter, QRect(4 * i, 4 * i, 64, 64));
    return pixmap;
}

} // namespace

DragSource::DragSource(QWidget *parent)
    : QWidget(parent)
{}

QMimeData *DragSource::dragData(const QList<ShelfItem> &items)
{
    QList<ShelfItem> draggable;
    for (const ShelfItem &item : items) {
        if (item.exists())
            draggable.append(item);
    }
    if (draggable.isEmpty())
        return nullptr;
    return makeMimeData(draggable);
}

Qt::DropActions DragSource::offeredActions(Qt::KeyboardModifiers modifiers)
{
    Qt::DropActions actions = Qt::CopyAction | Qt::LinkAction;
    if (modifiers & Qt::ShiftModifier)
        actions |= Qt::MoveAction;
    return actions;
}

void DragSource::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    m_doubleClick = false;
    m_pressPosition = event->position();
}

void DragSource::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_doubleClick = true;
    m_pressPosition = event->position();
}

void DragSource::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressed)
        return;
    const QPointF delta = event->position() - m_pressPosition;
    if (std::hypot(delta.x(), delta.y()) <= dragThreshold)
        return;
    m_pressed = false;
    startDrag();
}

void DragSource::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_pressed || event->button() != Qt::LeftButton)
        return;
    m_pressed = false;
    if (m_doubleClick) {
        if (onDoubleClick)
            onDoubleClick();
    } else if (onClick) {
        onClick(event->modifiers());
    }
}

void DragSource::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *menu = menuProvider ? menuProvider() : nullptr;
    if (!menu) {
        QWidget::contextMenuEvent(event);
        return;
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void DragSource::startDrag()
{
    const QList<ShelfItem> dragged = items ? items() : QList<ShelfItem>();
    QMimeData *data = dragData(dragged);
    if (!data)
        return;
    QList<ShelfItem> shown;
    for (const ShelfItem &item : dragged) {
        if (item.exists())
            shown.append(item);
    }
    auto *drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(dragPixmap(shown, devicePixelRatioF()));
    drag->setHotSpot(QPoint(32, 32));
    QPointer<DragSource> self(this);
    // Copy unless Shift is down at the moment: the drag asks for a move only while it is held.
    const Qt::DropActions offered = offeredActions(QApplication::queryKeyboardModifiers());
    const Qt::DropAction result = drag->exec(offered, Qt::CopyAction);
    if (self && self->onDragEnded)
        self->onDragEnded(result);
}

} // namespace vyo
