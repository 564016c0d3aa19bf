#include "share/ShelfListing.h"

#include "shelf/Shelf.h"

#include <QFileInfo>

namespace vyo {

TransferProtocol::Listing shelfListing(const Shelf &shelf)
{
    using TransferProtocol::ListedItem;
    TransferProtocol::Listing listing;
    listing.title = shelf.name() && !shelf.name()->isEmpty() ? *shelf.name() : shelf.title();
    for (const ShelfItem &item : shelf.items()) {
        const ShelfItem::Content &content = item.content();
        ListedItem listed;
        listed.id = item.id();
        listed.name = item.displayName();
        switch (content.kind()) {
        case ShelfItem::Content::Kind::text:
            listed.kind = ListedItem::Kind::text;
            listed.text = content.text();
            break;
        case ShelfItem::Content::Kind::link:
            listed.kind = ListedItem::Kind::link;
            listed.url = content.url();
            break;
        case ShelfItem::Content::Kind::file:
        case ShelfItem::Content::Kind::image: {
            if (!item.exists())
                continue;
            const QFileInfo info(content.url().toLocalFile());
            listed.kind = ListedItem::Kind::file;
            listed.isFolder = info.isDir();
            // A folder's own size says nothing about the archive it becomes, so it gets none.
            if (!listed.isFolder && info.exists())
                listed.size = info.size();
            break;
        }
        }
        listing.items.append(listed);
    }
    return listing;
}

} // namespace vyo
