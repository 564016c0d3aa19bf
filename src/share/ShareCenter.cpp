#include "share/ShareCenter.h"

#include "shelf/Shelf.h"
#include "shelf/ShelfManager.h"

#include <QPointer>

namespace vyo {

ShareCenter &ShareCenter::shared()
{
    static ShareCenter *instance = new ShareCenter;
    return *instance;
}

void ShareCenter::follow(ShelfManager &manager)
{
    connect(&manager, &ShelfManager::shelfOpened, this, [this](Shelf *shelf) {
        const QPointer<Shelf> weakShelf(shelf);
        connect(shelf, &Shelf::changed, this, [this, weakShelf] {
            if (weakShelf)
                shelfChanged(weakShelf);
        });
    });
    connect(&manager, &ShelfManager::shelfClosing, this,
            [this](Shelf *shelf) { stopSharing(shelf->id()); });
}

void ShareCenter::stopSharing(const QUuid &shelfId)
{
    Q_UNUSED(shelfId);
}

void ShareCenter::shelfChanged(Shelf *shelf)
{
    Q_UNUSED(shelf);
}

bool ShareCenter::isSharing(const QUuid &shelfId) const
{
    Q_UNUSED(shelfId);
    return false;
}

} // namespace vyo
