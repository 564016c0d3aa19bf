#include "ActionTestFiles.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFont>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QtEndian>

#include <libheif/heif.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <zlib.h>

#include <cstring>

namespace vyo::test {

namespace {

QByteArray bigEndian16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray bigEndian32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray pngChunk(const char *type, const QByteArray &data)
{
    const QByteArray typeAndData = QByteArray(type, 4) + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(typeAndData.constData()),
                            uInt(typeAndData.size()));
    return bigEndian32(quint32(data.size())) + typeAndData + bigEndian32(quint32(crc));
}

} // namespace

QImage renderedText(const QStringList &lines)
{
    QImage image(760, 70 + 80 * int(lines.size()), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("Noto Sans CJK KR"));
    font.setPixelSize(40);
    painter.setFont(font);
    painter.setPen(Qt::black);
    for (int i = 0; i < lines.size(); ++i)
        painter.drawText(40, 80 + 80 * i, lines[i]);
    return image;
}

QImage quadrantImage(QSize size, QColor corner, QColor rest)
{
    QImage image(size, rest.alpha() < 255 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(rest);
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, size.width() / 2, size.height() / 2), corner);
    return image;
}

QByteArray encodedImage(const QImage &image, const char *format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

QByteArray withExifOrientation(const QByteArray &jpeg, int orientation)
{
    // TIFF header (big-endian), one IFD with the orientation tag (0x0112, SHORT, 1 value).
    const QByteArray tiff = QByteArray("MM", 2) + bigEndian16(42) + bigEndian32(8) +
                            bigEndian16(1) + bigEndian16(0x0112) + bigEndian16(3) + bigEndian32(1) +
                            bigEndian16(quint16(orientation)) + bigEndian16(0) + bigEndian32(0);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const QByteArray segment =
        QByteArray("\xFF\xE1", 2) + bigEndian16(quint16(payload.size() + 2)) + payload;
    return jpeg.left(2) + segment + jpeg.mid(2);
}

bool writeLargePNG(const QString &path, QSize size)
{
    // 1 bit per pixel, grey, no interlacing; each row a filter byte and black pixels.
    const QByteArray rows(qsizetype((size.width() + 7) / 8 + 1) * size.height(), '\0');
    uLongf length = compressBound(uLong(rows.size()));
    QByteArray compressed(qsizetype(length), '\0');
    if (compress2(reinterpret_cast<Bytef *>(compressed.data()), &length,
                  reinterpret_cast<const Bytef *>(rows.constData()), uLong(rows.size()), 1) != Z_OK)
        return false;
    compressed.truncate(qsizetype(length));
    const QByteArray header = bigEndian32(quint32(size.width())) +
                              bigEndian32(quint32(size.height())) +
                              QByteArray("\x01\x00\x00\x00\x00", 5);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("\x89PNG\r\n\x1a\n", 8) == 8 &&
           file.write(pngChunk("IHDR", header) + pngChunk("IDAT", compressed) +
                      pngChunk("IEND", {})) > 0;
}

bool writeHEIC(const QString &path, const QImage &source)
{
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        return false;
    const QImage rgb = source.convertToFormat(QImage::Format_RGB888);
    heif_context *context = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_image *image = nullptr;
    bool written = false;
    if (heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder).code ==
            heif_error_Ok &&
        heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB,
                          heif_chroma_interleaved_RGB, &image)
                .code == heif_error_Ok &&
        heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8).code ==
            heif_error_Ok) {
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
        heif_encoder_set_lossy_quality(encoder, 90);
        written = heif_context_encode_image(context, image, encoder, nullptr, nullptr).code ==
                      heif_error_Ok &&
                  heif_context_write_to_file(context, QFile::encodeName(path).constData()).code ==
                      heif_error_Ok;
    }
    if (image)
        heif_image_release(image);
    if (encoder)
        heif_encoder_release(encoder);
    heif_context_free(context);
    return written;
}

bool writePDF(const QString &path, const QList<QSizeF> &pageSizes)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    for (qsizetype i = 0; i < pageSizes.size(); ++i) {
        writer.setPageSize(QPageSize(pageSizes[i], QPageSize::Point, {}, QPageSize::ExactMatch));
        if (i == 0) {
            if (!painter.begin(&writer))
                return false;
        } else {
            writer.newPage();
        }
        painter.fillRect(QRectF(10, 10, 20, 20), Qt::darkGreen);
    }
    return painter.end();
}

bool writeEncryptedPDF(const QString &source, const QString &path, const char *password)
{
    try {
        QPDF pdf;
        pdf.processFile(QFile::encodeName(source).constData());
        // The writer keeps the file name's pointer until it writes.
        const QByteArray output = QFile::encodeName(path);
        QPDFWriter writer(pdf, output.constData());
        writer.setR6EncryptionParameters(password, "owner", true, true, true, true, true, true,
                                         qpdf_r3p_full, true);
        writer.write();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

QList<QSizeF> pdfPageSizes(const QString &path)
{
    QList<QSizeF> sizes;
    try {
        QPDF pdf;
        pdf.processFile(QFile::encodeName(path).constData());
        for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(pdf).getAllPages()) {
            const QPDFObjectHandle::Rectangle box = page.getMediaBox().getArrayAsRectangle();
            sizes.append(QSizeF(box.urx - box.llx, box.ury - box.lly));
        }
    } catch (const std::exception &) {
        return {};
    }
    return sizes;
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

} // namespace vyo::test
