#include "shelfwindow/ShelfDropView.h"

#include <QDragEnterEvent>
#include <QDropEvent>

namespace vyo {

ShelfDropView::ShelfDropView(Shelf *shelf, QWidget *parent)
    : QWidget(parent)
    , m_shelf(shelf)
{
    setObjectName(QStringLiteral("shelfDropView"));
    setAcceptDrops(true);
}

void ShelfDropView::enterEvent(QEnterEvent *event)
{
    if (m_shelf)
        m_shelf->removeMissingFiles();
    QWidget::enterEvent(event);
}

bool ShelfDropView::isOwnDrag(const QDropEvent *event) const
{
    const auto *source = qobject_cast<const QWidget *>(event->source());
    return source && source->window() == window();
}

void ShelfDropView::dragEnterEvent(QDragEnterEvent *event)
{
    if (isOwnDrag(event) || !ShelfItem::canAccept(event->mimeData())) {
        event->ignore();
        return;
    }
    if (m_shelf)
        m_shelf->setDropTargeted(true);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ShelfDropView::dragMoveEvent(QDragMoveEvent *event)
{
    if (isOwnDrag(event)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void ShelfDropView::dragLeaveEvent(QDragLeaveEvent *event)
{
    if (m_shelf)
        m_shelf->setDropTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void ShelfDropView::dropEvent(QDropEvent *event)
{
    if (!m_shelf || isOwnDrag(event)) {
        event->ignore();
        return;
    }
    m_shelf->setDropTargeted(false);
    QPointer<Shelf> shelf = m_shelf;
    if (ShelfItem::offersPromisedFiles(event->mimeData()))
        m_shelf->hasReceivedDrop = true;
    // The source is asked while the windows keep answering: this view may be gone afterwards.
    const QPointer<ShelfDropView> self(this);
    if (ShelfItem::receivePromisedFiles(event->mimeData(),
                                        [shelf](const ShelfItem &item, const QUuid &replacing) {
                                            if (shelf)
                                                shelf->replace(replacing, item);
                                        })) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    if (!self || !m_shelf) {
        event->ignore();
        return;
    }
    const QList<ShelfItem> items = ShelfItem::items(event->mimeData());
    if (items.isEmpty()) {
        event->ignore();
        return;
    }
    m_shelf->hasReceivedDrop = true;
    m_shelf->add(items);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace vyo
