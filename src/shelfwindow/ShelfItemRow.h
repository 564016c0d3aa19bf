#pragma once

// One row of the expanded list: the item's thumbnail and name (a drag source that selects on
// click and opens on double click) and a remove button that shows while the pointer is over the
// row.

#include "shelf/ShelfItem.h"

#include <QWidget>

#include <functional>

class QLabel;
class QMenu;
class QToolButton;
class QGraphicsOpacityEffect;

namespace vyo {

class DragSource;

class ShelfItemRow : public QWidget
{
    Q_OBJECT
public:
    ShelfItemRow(const ShelfItem &item, QWidget *parent = nullptr);

    const ShelfItem &item() const { return m_item; }

    void setSelected(bool selected);
    bool isSelected() const { return m_selected; }
    bool isHovering() const { return m_hovering; }

    std::function<void(Qt::KeyboardModifiers)> onSelect;
    std::function<void()> onOpen;
    std::function<void()> onRemove;
    std::function<QMenu *()> menu;
    std::function<QList<ShelfItem>()> dragItems;
    std::function<void(const QList<ShelfItem> &, Qt::DropAction)> onDragEnded;

    DragSource *dragArea() const { return m_dragArea; }
    QToolButton *removeButton() const { return m_remove; }

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void setHovering(bool hovering);

    ShelfItem m_item;
    QList<ShelfItem> m_dragged;
    bool m_selected = false;
    bool m_hovering = false;
    DragSource *m_dragArea;
    QToolButton *m_remove;
    QGraphicsOpacityEffect *m_removeOpacity;
};

} // namespace vyo
