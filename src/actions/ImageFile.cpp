#include "actions/ImageFile.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <libheif/heif.h>

#include <algorithm>

namespace vyo {

namespace {

// Qt refuses to decode images above 128 MiB by default, which is a 32-megapixel photo; phones
// take larger ones. The limit is raised (once, before any thread runs) to what
// maximumPixelCount needs in 32-bit pixels.
[[maybe_unused]] const bool allocationLimitRaised = [] {
    QImageReader::setAllocationLimit(int(ImageFile::maximumPixelCount * 4 / (1024 * 1024)));
    return true;
}();

bool isTooLarge(QSize size)
{
    return qint64(size.width()) * qint64(size.height()) > ImageFile::maximumPixelCount;
}

QString heifMessage(const heif_error &error)
{
    return QString::fromUtf8(error.message);
}

struct HeifContextDeleter
{
    void operator()(heif_context *context) const { heif_context_free(context); }
};
struct HeifHandleDeleter
{
    void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
};
struct HeifImageDeleter
{
    void operator()(heif_image *image) const { heif_image_release(image); }
};
using HeifContext = std::unique_ptr<heif_context, HeifContextDeleter>;
using HeifHandle = std::unique_ptr<heif_image_handle, HeifHandleDeleter>;
using HeifImage = std::unique_ptr<heif_image, HeifImageDeleter>;

// The primary image of HEIF or AVIF data, or nothing with the reason in `error`.
HeifHandle primaryHeifImage(const HeifContext &context, QByteArrayView bytes, QString *error)
{
    heif_error result = heif_context_read_from_memory_without_copy(context.get(), bytes.data(),
                                                                   size_t(bytes.size()), nullptr);
    if (result.code != heif_error_Ok) {
        *error = heifMessage(result);
        return {};
    }
    heif_image_handle *handle = nullptr;
    result = heif_context_get_primary_image_handle(context.get(), &handle);
    if (result.code != heif_error_Ok) {
        *error = heifMessage(result);
        return {};
    }
    return HeifHandle(handle);
}

} // namespace

ImageFile::ImageFile(const QString &path)
{
    readHeader(path);
}

QSize ImageFile::size() const
{
    return m_transformation.testFlag(QImageIOHandler::TransformationRotate90)
               ? m_storedSize.transposed()
               : m_storedSize;
}

QSize ImageFile::scaledToLongSide(QSize size, int longSide)
{
    const int width = size.width();
    const int height = size.height();
    if (longSide <= 0 || std::max(width, height) <= longSide)
        return size;
    if (width >= height)
        return {longSide, std::max(1, int(std::lround(double(height) * longSide / width)))};
    return {std::max(1, int(std::lround(double(width) * longSide / height))), longSide};
}

bool ImageFile::isCompleteJPEG(QByteArrayView bytes)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype size = bytes.size();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    qsizetype i = 2;
    while (i + 4 <= size) {
        if (data[i] != 0xFF)
            return false;
        const uchar marker = data[i + 1];
        if (marker == 0xFF) { // fill byte
            ++i;
            continue;
        }
        if (marker == 0xD9) // end of image before any scan
            return false;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        const int length = (data[i + 2] << 8) | data[i + 3];
        if (length < 2)
            return false;
        if (marker == 0xDA) {
            // Entropy-coded data escapes every 0xFF, so the next end-of-image marker is the real
            // one: a file cut short has none.
            const qsizetype from = i + 2 + length;
            return from < size && bytes.sliced(from).indexOf(QByteArrayView("\xFF\xD9", 2)) >= 0;
        }
        i += 2 + length;
    }
    return false;
}

void ImageFile::readHeader(const QString &path)
{
    // Only regular files: reading a pipe or a device could wait forever.
    if (!QFileInfo(path).isFile()) {
        m_error = QStringLiteral("not a regular file");
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return;
    }
    const qint64 fileSize = file.size();
    if (fileSize == 0) {
        m_error = QStringLiteral("empty file");
        return;
    }
    if (fileSize > maximumFileSize) {
        m_error = QStringLiteral("file too large: %1 bytes").arg(fileSize);
        return;
    }
    // Read, not mapped: a mapped file that another program shortens meanwhile would crash the
    // reader on its next access.
    m_contents = file.read(fileSize);
    if (m_contents.size() != fileSize) {
        m_error = QStringLiteral("the file changed while it was read");
        return;
    }
    m_bytes = m_contents;
    m_suffix = QFileInfo(path).suffix().toLower().toLatin1();

    const heif_filetype_result heifType =
        heif_check_filetype(reinterpret_cast<const uint8_t *>(m_bytes.data()),
                            int(std::min<qsizetype>(m_bytes.size(), 64)));
    if (heifType == heif_filetype_yes_supported || heifType == heif_filetype_yes_unsupported) {
        m_isHeif = true;
        readHeifHeader();
        return;
    }

    QBuffer buffer;
    buffer.setData(QByteArray::fromRawData(m_bytes.data(), m_bytes.size()));
    buffer.open(QIODevice::ReadOnly);
    const bool suffixIsFormat =
        !m_suffix.isEmpty() && QImageReader::supportedImageFormats().contains(m_suffix);
    // The contents decide the format; formats without a signature (icons, TGA) are recognised by
    // their extension only.
    QImageReader reader(&buffer);
    if (!reader.canRead()) {
        if (!suffixIsFormat) {
            m_error = QStringLiteral("not an image");
            return;
        }
        m_readerFormat = m_suffix;
        buffer.seek(0);
        reader.setDevice(nullptr);
        reader.setFormat(m_readerFormat);
        reader.setDevice(&buffer);
        if (!reader.canRead()) {
            m_error = QStringLiteral("not an image");
            return;
        }
    }
    QByteArray format = m_readerFormat.isEmpty() ? reader.format() : m_readerFormat;
    if (format.isEmpty())
        format = suffixIsFormat ? m_suffix : QByteArray("unknown");
    QSize size = reader.size();
    m_transformation = reader.transformation();
    if (!size.isValid()) {
        // A few formats (icon collections) tell their size only when decoded.
        size = reader.read().size();
    }
    if (!size.isValid() || size.isEmpty()) {
        m_error = reader.errorString();
        return;
    }
    if (isTooLarge(size)) {
        m_error = QStringLiteral("image too large: %1 × %2").arg(size.width()).arg(size.height());
        return;
    }
    if (format == "jpeg" && !isCompleteJPEG(m_bytes)) {
        m_error = QStringLiteral("truncated JPEG");
        return;
    }
    m_storedSize = size;
    m_format = format;
}

void ImageFile::readHeifHeader()
{
    HeifContext context(heif_context_alloc());
    const HeifHandle handle = primaryHeifImage(context, m_bytes, &m_error);
    if (!handle)
        return;
    const QSize size(heif_image_handle_get_width(handle.get()),
                     heif_image_handle_get_height(handle.get()));
    if (size.isEmpty()) {
        m_error = QStringLiteral("HEIF image without a size");
        return;
    }
    if (isTooLarge(size)) {
        m_error = QStringLiteral("image too large: %1 × %2").arg(size.width()).arg(size.height());
        return;
    }
    m_storedSize = size;
    m_format = "heif";
}

QImage ImageFile::read(int longSide) const
{
    if (!isReadable())
        return {};
    QImage image = m_isHeif ? readWithHeif(longSide) : readWithQt(longSide);
    if (image.isNull())
        return image;
    // Handlers that decode a frame of another size than announced are brought to the size asked.
    const QSize target = scaledToLongSide(image.size(), longSide);
    if (target != image.size())
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage ImageFile::readWithQt(int longSide) const
{
    QBuffer buffer;
    buffer.setData(QByteArray::fromRawData(m_bytes.data(), m_bytes.size()));
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, m_readerFormat);
    reader.setAutoTransform(true);
    // The scaled size is given in stored orientation; the transform is applied after scaling.
    const QSize scaled = scaledToLongSide(m_storedSize, longSide);
    if (scaled != m_storedSize)
        reader.setScaledSize(scaled);
    return reader.read();
}

QImage ImageFile::readWithHeif(int longSide) const
{
    QString error;
    HeifContext context(heif_context_alloc());
    const HeifHandle handle = primaryHeifImage(context, m_bytes, &error);
    if (!handle)
        return {};
    const bool hasAlpha = heif_image_handle_has_alpha_channel(handle.get());
    heif_image *decoded = nullptr;
    // Default decoding options: the image's rotation and mirroring are applied.
    const heif_error result = heif_decode_image(
        handle.get(), &decoded, heif_colorspace_RGB,
        hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr);
    if (result.code != heif_error_Ok)
        return {};
    const HeifImage image(decoded);
    int stride = 0;
    const uint8_t *pixels =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (!pixels || width <= 0 || height <= 0)
        return {};
    const QImage view(pixels, width, height, stride,
                      hasAlpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const QSize target = scaledToLongSide(view.size(), longSide);
    QImage out = target == view.size()
                     ? view.copy()
                     : view.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle.get());
    if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
        QByteArray icc(qsizetype(heif_image_handle_get_raw_color_profile_size(handle.get())),
                       Qt::Uninitialized);
        if (!icc.isEmpty() &&
            heif_image_handle_get_raw_color_profile(handle.get(), icc.data()).code == heif_error_Ok)
            out.setColorSpace(QColorSpace::fromIccProfile(icc));
    }
    return out;
}

} // namespace vyo
