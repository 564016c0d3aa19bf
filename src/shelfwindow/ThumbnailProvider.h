#pragma once

// Thumbnails of file and image items, made in the background and kept in memory: images scaled
// with their orientation applied, a PDF's first page, and nothing for other files (their icon
// stands in). A thumbnail that cannot be made is remembered as missing, so it is not tried again.

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QThreadPool>

namespace vyo {

class ShelfItem;

class ThumbnailProvider : public QObject
{
    Q_OBJECT
public:
    static ThumbnailProvider &shared();

    // The thumbnail of the item's file fitted into `pixels` × `pixels`, when it is ready; a null
    // pixmap otherwise (loading starts, and thumbnailReady follows when it succeeds).
    QPixmap thumbnail(const ShelfItem &item, int pixels);

    // Makes the thumbnail image of a file in the calling thread: for images and PDFs, null for
    // anything else or anything unreadable.
    static QImage render(const QString &path, int pixels);

Q_SIGNALS:
    void thumbnailReady(const QString &path);

private:
    ThumbnailProvider();

    QCache<QString, QPixmap> m_cache;
    QSet<QString> m_loading;
    QSet<QString> m_failed;
    QThreadPool m_pool;
};

} // namespace vyo
