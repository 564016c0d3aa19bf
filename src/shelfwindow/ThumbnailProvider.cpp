#include "shelfwindow/ThumbnailProvider.h"

#include "actions/ImageFile.h"
#include "shelf/ShelfItem.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

#include <poppler-qt6.h>

namespace vyo {

namespace {

QString cacheKey(const QString &path, int pixels, const QDateTime &modified)
{
    return path + u'\n' + QString::number(pixels) + u'\n' +
           QString::number(modified.toMSecsSinceEpoch());
}

} // namespace

ThumbnailProvider &ThumbnailProvider::shared()
{
    static ThumbnailProvider *instance = new ThumbnailProvider;
    return *instance;
}

ThumbnailProvider::ThumbnailProvider()
    : m_cache(400)
{
    // Two at a time keep a shelf of large photos from crowding out everything else.
    m_pool.setMaxThreadCount(2);
    // Loads still running when the application quits must end before the libraries they use
    // are torn down.
    if (QCoreApplication *application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, this, [this] {
            m_pool.clear();
            m_pool.waitForDone(5000);
        });
    }
}

QImage ThumbnailProvider::render(const QString &path, int pixels)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    if (type.inherits(QStringLiteral("application/pdf"))) {
        std::unique_ptr<Poppler::Document> document = Poppler::Document::load(path);
        if (!document || document->isLocked() || document->numPages() < 1)
            return {};
        std::unique_ptr<Poppler::Page> page = document->page(0);
        if (!page)
            return {};
        const QSizeF points = page->pageSizeF();
        const double longest = std::max(points.width(), points.height());
        if (longest <= 0)
            return {};
        const double dpi = 72.0 * pixels / longest;
        document->setRenderHint(Poppler::Document::Antialiasing);
        return page->renderToImage(dpi, dpi);
    }
    if (!type.name().startsWith(QStringLiteral("image/")) || QFileInfo(path).isDir())
        return {};
    // HEIF and AVIF (phone photos) are beyond Qt's own readers; libheif reads them.
    if (type.inherits(QStringLiteral("image/heif")) ||
        type.inherits(QStringLiteral("image/avif")) || type.name() == QLatin1String("image/heic")) {
        const ImageFile file(path);
        return file.isReadable() ? file.read(pixels) : QImage();
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (size.isValid()) {
        if (reader.transformation() & QImageIOHandler::TransformationRotate90)
            size.transpose();
        if (std::max(size.width(), size.height()) > pixels) {
            const QSize fitted = size.scaled(pixels, pixels, Qt::KeepAspectRatio);
            // The reader scales in the stored orientation.
            reader.setScaledSize(reader.transformation() & QImageIOHandler::TransformationRotate90
                                     ? fitted.transposed()
                                     : fitted);
        }
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (std::max(image.width(), image.height()) > pixels)
        image = image.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

QPixmap ThumbnailProvider::thumbnail(const ShelfItem &item, int pixels)
{
    if (!item.content().isFileBacked())
        return {};
    const QString path = item.content().url().toLocalFile();
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    const QString key = cacheKey(path, pixels, info.lastModified());
    if (QPixmap *cached = m_cache.object(key))
        return *cached;
    if (m_failed.contains(key) || m_loading.contains(key))
        return {};
    m_loading.insert(key);
    QPointer<ThumbnailProvider> self(this);
    QtConcurrent::run(&m_pool, [path, pixels] {
        return render(path, pixels);
    }).then(this, [this, key, path](const QImage &image) {
        m_loading.remove(key);
        if (image.isNull()) {
            m_failed.insert(key);
            return;
        }
        m_cache.insert(key, new QPixmap(QPixmap::fromImage(image)));
        Q_EMIT thumbnailReady(path);
    });
    return {};
}

} // namespace vyo
