#include "shelfwindow/ShelfItemRow.h"

#include "shelfwindow/DragSource.h"
#include "shelfwindow/Icons.h"
#include "shelfwindow/ItemThumbnail.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

namespace vyo {

ShelfItemRow::ShelfItemRow(const ShelfItem &item, QWidget *parent)
    : QWidget(parent)
    , m_item(item)
    , m_dragArea(new DragSource(this))
    , m_remove(new QToolButton(this))
    , m_removeOpacity(new QGraphicsOpacityEffect(m_remove))
{
    setObjectName(QStringLiteral("itemRow"));
    setAttribute(Qt::WA_Hover);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(8);

    m_dragArea->setObjectName(QStringLiteral("rowDragArea"));
    auto *areaLayout = new QHBoxLayout(m_dragArea);
    areaLayout->setContentsMargins(0, 0, 0, 0);
    areaLayout->setSpacing(8);
    areaLayout->addWidget(new ItemThumbnail(item, 30, m_dragArea));
    auto *name = new QLabel(m_dragArea);
    name->setObjectName(QStringLiteral("rowName"));
    name->setAttribute(Qt::WA_TransparentForMouseEvents);
    name->setTextFormat(Qt::PlainText);
    name->setText(
        name->fontMetrics().elidedText(item.displayName().left(512), Qt::ElideMiddle, 150));
    name->setToolTip(item.displayName().left(512));
    areaLayout->addWidget(name, 1);
    layout->addWidget(m_dragArea, 1);

    m_dragArea->items = [this] {
        m_dragged = dragItems ? dragItems() : QList<ShelfItem>{m_item};
        return m_dragged;
    };
    m_dragArea->onDragEnded = [this](Qt::DropAction action) {
        if (onDragEnded)
            onDragEnded(m_dragged, action);
    };
    m_dragArea->onClick = [this](Qt::KeyboardModifiers modifiers) {
        if (onSelect)
            onSelect(modifiers);
    };
    m_dragArea->onDoubleClick = [this] {
        if (onOpen)
            onOpen();
    };
    m_dragArea->menuProvider = [this]() -> QMenu * { return menu ? menu() : nullptr; };

    m_remove->setObjectName(QStringLiteral("rowRemoveButton"));
    m_remove->setAutoRaise(true);
    // Invisible until hovered, so never reachable by the keyboard (Space previews instead).
    m_remove->setFocusPolicy(Qt::NoFocus);
    m_remove->setIcon(themeIcon(Icon::removeRow));
    m_remove->setToolTip(QStringLiteral("셸프에서 제거"));
    m_remove->setAccessibleName(item.displayName() + QStringLiteral(" 셸프에서 제거"));
    m_remove->setGraphicsEffect(m_removeOpacity);
    m_removeOpacity->setOpacity(0);
    connect(m_remove, &QToolButton::clicked, this, [this] {
        if (onRemove)
            onRemove();
    });
    layout->addWidget(m_remove);
}

void ShelfItemRow::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void ShelfItemRow::enterEvent(QEnterEvent *)
{
    setHovering(true);
}

void ShelfItemRow::leaveEvent(QEvent *)
{
    setHovering(false);
}

void ShelfItemRow::setHovering(bool hovering)
{
    if (m_hovering == hovering)
        return;
    m_hovering = hovering;
    m_removeOpacity->setOpacity(hovering ? 1 : 0);
    update();
}

void ShelfItemRow::paintEvent(QPaintEvent *)
{
    QColor fill;
    if (m_selected) {
        fill = palette().color(QPalette::Highlight);
        fill.setAlphaF(0.28f);
    } else if (m_hovering) {
        fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(0.08f);
    } else {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(path, fill);
}

} // namespace vyo
