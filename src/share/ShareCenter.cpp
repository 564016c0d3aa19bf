#include "share/ShareCenter.h"

namespace vyo {

ShareCenter &ShareCenter::shared()
{
    static ShareCenter *instance = new ShareCenter;
    return *instance;
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
