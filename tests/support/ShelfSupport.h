#pragma once

// Item builders for tests of shelves and what shows them.

#include "shelf/Shelf.h"

#include <QStringList>
#include <QUrl>

namespace vyo::test {

inline ShelfItem text(const QString &t)
{
    return ShelfItem(ShelfItem::Content::text(t));
}
inline ShelfItem link(const QString &url)
{
    return ShelfItem(ShelfItem::Content::link(QUrl(url)));
}
inline ShelfItem file(const QString &path)
{
    return ShelfItem(ShelfItem::Content::file(QUrl::fromLocalFile(path)));
}
inline ShelfItem image(const QString &path)
{
    return ShelfItem(ShelfItem::Content::image(QUrl::fromLocalFile(path)));
}

// The display names of a shelf's items, in order.
inline QStringList names(const Shelf &shelf)
{
    QStringList result;
    for (const ShelfItem &item : shelf.items())
        result.append(item.displayName());
    return result;
}

} // namespace vyo::test
