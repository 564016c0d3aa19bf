#pragma once

// One image file opened for reading: the pixel size, orientation and format from its header, and
// its first image decoded on request with the orientation applied. Qt's image I/O reads most
// formats; HEIF and AVIF go through libheif. Nothing in the file is trusted: a file that is no
// image, a truncated JPEG or an image of more than maximumPixelCount pixels reads as nothing.
// Used by the quick actions and by the text-recognition helper; safe on any thread.

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QImageIOHandler>
#include <QSize>
#include <QString>

namespace vyo {

class ImageFile
{
public:
    // The largest image decoded in full, 16384 × 16384 pixels: a quarter gigapixel, 1 GiB in
    // 32-bit pixels. Qt's own allocation limit is raised to match.
    static constexpr qint64 maximumPixelCount = qint64(16384) * 16384;
    // Larger files are not read at all.
    static constexpr qint64 maximumFileSize = qint64(1) << 30;

    explicit ImageFile(const QString &path);
    ImageFile(const ImageFile &) = delete;
    ImageFile &operator=(const ImageFile &) = delete;

    // Whether the header could be read: the format and a pixel size are known, the image is not
    // too large and, for a JPEG, the file is complete.
    bool isReadable() const { return !m_format.isEmpty(); }
    // Why the file cannot be read (for logs).
    const QString &errorString() const { return m_error; }

    // Qt's name of the format found in the contents ("jpeg", "png", "webp", …; "heif" for HEIF
    // and AVIF files).
    const QByteArray &format() const { return m_format; }
    // The pixel size of the first image as stored, before the orientation is applied.
    QSize storedSize() const { return m_storedSize; }
    // The pixel size as shown, with the orientation applied.
    QSize size() const;
    // The orientation recorded in the file (EXIF); HEIF transforms are always applied by libheif
    // and show up here as none.
    QImageIOHandler::Transformations transformation() const { return m_transformation; }
    // The file's bytes, valid while this object lives.
    QByteArrayView bytes() const { return m_bytes; }

    // The first image with the orientation applied. With a long side given, an image whose long
    // side is larger is scaled down so that its long side is exactly that; smaller images keep
    // their size. A null image when decoding fails.
    QImage read(int longSide = 0) const;

    // The size scaled down (never up) so that its long side is `longSide`, the short side rounded
    // and at least 1.
    static QSize scaledToLongSide(QSize size, int longSide);

    // Whether JPEG data is complete: its first scan is followed by the end-of-image marker.
    static bool isCompleteJPEG(QByteArrayView bytes);

private:
    void readHeader(const QString &path);
    void readHeifHeader();
    QImage readWithQt(int longSide) const;
    QImage readWithHeif(int longSide) const;

    QByteArray m_contents;
    QByteArrayView m_bytes;
    QByteArray m_suffix;
    QByteArray m_readerFormat; // the format Qt is told to use; empty when the contents decide
    QByteArray m_format;
    QSize m_storedSize;
    QImageIOHandler::Transformations m_transformation = QImageIOHandler::TransformationNone;
    bool m_isHeif = false;
    QString m_error;
};

} // namespace vyo
