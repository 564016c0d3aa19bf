#pragma once

// The picture of one item: a thumbnail of its file when one can be made, else its icon; a tile
// with an icon for texts and links.

#include "shelf/ShelfItem.h"

#include <QWidget>

class QPainter;

namespace vyo {

class ItemThumbnail : public QWidget
{
    Q_OBJECT
public:
    ItemThumbnail(const ShelfItem &item, int size, QWidget *parent = nullptr);

    const ShelfItem &item() const { return m_item; }

    // Paints an item's picture into a square.
    static void paint(QPainter &painter, const QRectF &square, const ShelfItem &item,
                      qreal devicePixelRatio);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ShelfItem m_item;
};

} // namespace vyo
