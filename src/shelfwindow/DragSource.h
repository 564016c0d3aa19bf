#pragma once

// A widget whose items can be dragged out to any application: a press that moves more than 3
// points starts the drag; a press released in place is a click (or a double click). Drags offer
// copy and link, and move while Shift is held.

#include "shelf/ShelfItem.h"

#include <QPoint>
#include <QWidget>

#include <functional>

class QMenu;

namespace vyo {

class DragSource : public QWidget
{
    Q_OBJECT
public:
    explicit DragSource(QWidget *parent = nullptr);

    // The items a drag carries, asked for when the drag starts.
    std::function<QList<ShelfItem>()> items;
    std::function<void(Qt::KeyboardModifiers)> onClick;
    std::function<void()> onDoubleClick;
    std::function<QMenu *()> menuProvider;
    // How the drag ended: the action the drop target performed, or IgnoreAction.
    std::function<void(Qt::DropAction)> onDragEnded;

    // The distance a press must move before it becomes a drag.
    static constexpr double dragThreshold = 3.0;

    // The mime data and the actions a drag of these items offers; nothing when every file is gone.
    static QMimeData *dragData(const QList<ShelfItem> &items);
    static Qt::DropActions offeredActions(Qt::KeyboardModifiers modifiers);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void startDrag();

    bool m_pressed = false;
    bool m_doubleClick = false;
    QPointF m_pressPosition;
};

} // namespace vyo
