#include "shelfwindow/ItemThumbnail.h"

#include "shelfwindow/Icons.h"
#include "shelfwindow/ThumbnailProvider.h"

#include <QPainter>
#include <QPainterPath>

namespace vyo {

ItemThumbnail::ItemThumbnail(const ShelfItem &item, int size, QWidget *parent)
    : QWidget(parent)
    , m_item(item)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(&ThumbnailProvider::shared(), &ThumbnailProvider::thumbnailReady, this,
            [this](const QString &path) {
                if (m_item.content().isFileBacked() && m_item.content().url().toLocalFile() == path)
                    update();
            });
}

void ItemThumbnail::paint(QPainter &painter, const QRectF &square, const ShelfItem &item,
                          qreal devicePixelRatio)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const double s = square.width();
    const ShelfItem::Content::Kind kind = item.content().kind();
    if (kind == ShelfItem::Content::Kind::text || kind == ShelfItem::Content::Kind::link) {
        QPainterPath tile;
        tile.addRoundedRect(square, 0.2 * s, 0.2 * s);
        painter.fillPath(tile, QColor(0, 0, 0, 38));
        const double inset = std::max(0.08 * s, (s - 0.4 * s) / 2);
        const QRectF glyph = square.adjusted(inset, inset, -inset, -inset);
        themeIcon(kind == ShelfItem::Content::Kind::text ? Icon::textItem : Icon::linkItem)
            .paint(&painter, glyph.toAlignedRect());
    } else {
        const QPixmap thumbnail =
            ThumbnailProvider::shared().thumbnail(item, int(std::ceil(s * devicePixelRatio)));
        if (!thumbnail.isNull()) {
            QSizeF size = thumbnail.deviceIndependentSize();
            size.scale(square.size(), Qt::KeepAspectRatio);
            const QRectF target(square.center() - QPointF(size.width(), size.height()) / 2, size);
            painter.drawPixmap(target, thumbnail, QRectF(thumbnail.rect()));
        } else {
            item.icon().paint(&painter, square.toAlignedRect());
        }
    }
    painter.restore();
}

void ItemThumbnail::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, QRectF(rect()), m_item, devicePixelRatioF());
}

} // namespace vyo
