#pragma once

// Input files for the quick-action and shelf window tests, made on the spot, and a reader for the
// PDFs the actions produce.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QSizeF>
#include <QString>
#include <QStringList>

namespace vyo::test {

// An image whose top-left quadrant is `corner` and the rest `rest` (with an alpha channel when
// that is translucent): after a rotation the corner tells where the top-left went.
QImage quadrantImage(QSize size, QColor corner = Qt::red, QColor rest = Qt::blue);

QByteArray encodedImage(const QImage &image, const char *format, int quality = -1);

// Black text in a Korean font on white, one line per entry.
QImage renderedText(const QStringList &lines);

// JPEG data with an EXIF block carrying the orientation (1 to 8).
QByteArray withExifOrientation(const QByteArray &jpeg, int orientation);

// A valid black PNG of the given size, one bit a pixel: 20000 × 20000 pixels take 50 MB to make
// and 50 kB on disk.
bool writeLargePNG(const QString &path, QSize size);

// A HEIC file (HEVC through libheif) of the image; false when no encoder is available.
bool writeHEIC(const QString &path, const QImage &image);

// A PDF whose pages have the given sizes in points, each with a filled rectangle.
bool writePDF(const QString &path, const QList<QSizeF> &pageSizes);

// The PDF at `source` rewritten with a user password.
bool writeEncryptedPDF(const QString &source, const QString &path, const char *password);

// The page sizes (media boxes, in points) of a PDF, in page order; empty when it cannot be read.
QList<QSizeF> pdfPageSizes(const QString &path);

// The files below a folder, recursively, as paths relative to it.
QStringList filesBelow(const QString &folder);

} // namespace vyo::test
