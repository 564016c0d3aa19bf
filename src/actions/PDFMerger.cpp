#include "actions/PDFMerger.h"

#include "actions/ImageFile.h"
#include "actions/ResultFile.h"
#include "core/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QPointF>

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vyo::PDFMerger {

namespace {

// Pages are sized 1 point per pixel, within what PDF readers show: at most 14400 points (200
// inches) and at least 3 points a side.
constexpr double maximumPageSide = 14400;
constexpr double minimumPageSide = 3;

// Hands qpdf's output to a Qt device (the temporary file of the result).
class DevicePipeline final : public Pipeline
{
public:
    explicit DevicePipeline(QIODevice *device)
        : Pipeline("result file", nullptr)
        , m_device(device)
    {}

    void write(unsigned char const *data, size_t length) override
    {
        while (length > 0) {
            const qint64 written =
                m_device->write(reinterpret_cast<const char *>(data), qint64(length));
            if (written <= 0)
                throw std::runtime_error(m_device->errorString().toStdString());
            data += written;
            length -= size_t(written);
        }
    }
    void finish() override {}

private:
    QIODevice *m_device;
};

struct JPEGHeader
{
    int width = 0;
    int height = 0;
    int components = 0;
    bool adobe = false; // an Adobe marker: CMYK data is stored inverted
};

// The frame header of JPEG data that PDF readers decode as it is (8-bit baseline, extended or
// progressive; gray, RGB or CMYK); nothing for anything else.
std::optional<JPEGHeader> embeddableJPEGHeader(QByteArrayView bytes)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype size = bytes.size();
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return std::nullopt;
    JPEGHeader header;
    qsizetype i = 2;
    while (i + 4 <= size) {
        if (data[i] != 0xFF)
            return std::nullopt;
        const uchar marker = data[i + 1];
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        const int length = (data[i + 2] << 8) | data[i + 3];
        if (length < 2 || i + 2 + length > size)
            return std::nullopt;
        const uchar *segment = data + i + 4;
        if (marker == 0xEE && length >= 7 && std::equal(segment, segment + 5, "Adobe"))
            header.adobe = true;
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            if (marker > 0xC2 || length < 8 || segment[0] != 8)
                return std::nullopt; // lossless, arithmetic-coded or 12-bit
            header.height = (segment[1] << 8) | segment[2];
            header.width = (segment[3] << 8) | segment[4];
            header.components = segment[5];
            const bool supported =
                header.components == 1 || header.components == 3 || header.components == 4;
            if (!supported || header.width <= 0 || header.height <= 0)
                return std::nullopt;
            return header;
        }
        if (marker == 0xDA || marker == 0xD9)
            return std::nullopt;
        i += 2 + length;
    }
    return std::nullopt;
}

QPDFObjectHandle name(const char *value)
{
    return QPDFObjectHandle::newName(value);
}

void describeImage(QPDFObjectHandle &stream, int width, int height, const char *colorSpace)
{
    QPDFObjectHandle dictionary = stream.getDict();
    dictionary.replaceKey("/Type", name("/XObject"));
    dictionary.replaceKey("/Subtype", name("/Image"));
    dictionary.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
    dictionary.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
    dictionary.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    dictionary.replaceKey("/ColorSpace", name(colorSpace));
}

// The rows of an 8-bit image without the padding at their ends.
std::string pixelRows(const QImage &image, int bytesPerPixel)
{
    std::string rows;
    const size_t rowBytes = size_t(image.width()) * size_t(bytesPerPixel);
    rows.reserve(rowBytes * size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        rows.append(reinterpret_cast<const char *>(image.constScanLine(y)), rowBytes);
    return rows;
}

// The JPEG data as an image stream, not re-encoded.
QPDFObjectHandle jpegImage(QPDF &pdf, QByteArrayView bytes, const JPEGHeader &header)
{
    QPDFObjectHandle stream = pdf.newStream();
    stream.replaceStreamData(std::string(bytes.data(), size_t(bytes.size())), name("/DCTDecode"),
                             QPDFObjectHandle::newNull());
    describeImage(stream, header.width, header.height,
                  header.components == 1   ? "/DeviceGray"
                  : header.components == 4 ? "/DeviceCMYK"
                                           : "/DeviceRGB");
    if (header.components == 4 && header.adobe)
        stream.getDict().replaceKey("/Decode", QPDFObjectHandle::parse("[1 0 1 0 1 0 1 0]"));
    return stream;
}

// A decoded image as an uncompressed image stream (compressed losslessly when written), with a
// soft mask for its transparency.
QPDFObjectHandle decodedImage(QPDF &pdf, const QImage &image)
{
    const bool gray =
        image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_Grayscale16;
    QPDFObjectHandle stream =
        gray ? pdf.newStream(pixelRows(image.convertToFormat(QImage::Format_Grayscale8), 1))
             : pdf.newStream(pixelRows(image.convertToFormat(QImage::Format_RGB888), 3));
    describeImage(stream, image.width(), image.height(), gray ? "/DeviceGray" : "/DeviceRGB");
    if (image.hasAlphaChannel()) {
        QPDFObjectHandle mask =
            pdf.newStream(pixelRows(image.convertToFormat(QImage::Format_Alpha8), 1));
        describeImage(mask, image.width(), image.height(), "/DeviceGray");
        stream.getDict().replaceKey("/SMask", mask);
    }
    return stream;
}

QByteArray number(double value)
{
    return QByteArray::number(value, 'f', 4);
}

// A page showing the image XObject of the stored pixel size with the orientation applied.
QPDFObjectHandle imagePage(QPDF &pdf, const QPDFObjectHandle &image, QSize stored,
                           QImageIOHandler::Transformations transformation)
{
    const double width = stored.width();
    const double height = stored.height();
    const bool rotated = transformation.testFlag(QImageIOHandler::TransformationRotate90);
    const double shownWidth = rotated ? height : width;
    const double shownHeight = rotated ? width : height;
    double scale = 1;
    if (std::min(shownWidth, shownHeight) < minimumPageSide)
        scale = minimumPageSide / std::min(shownWidth, shownHeight);
    if (std::max(shownWidth, shownHeight) * scale > maximumPageSide)
        scale = maximumPageSide / std::max(shownWidth, shownHeight);

    // Where a point of the image's unit square (v upwards, row 0 at the top) lands on the page:
    // mirror and flip first, then the clockwise quarter turn, as the orientation tag means.
    const auto place = [&](double u, double v) {
        double x = u * width;
        double y = (1 - v) * height; // stored pixels, y downwards
        if (transformation.testFlag(QImageIOHandler::TransformationMirror))
            x = width - x;
        if (transformation.testFlag(QImageIOHandler::TransformationFlip))
            y = height - y;
        if (rotated) {
            const double turnedX = height - y;
            y = x;
            x = turnedX;
        }
        return QPointF(x * scale, (shownHeight - y) * scale);
    };
    const QPointF origin = place(0, 0);
    const QPointF across = place(1, 0) - origin;
    const QPointF up = place(0, 1) - origin;
    const QByteArray content = "q " + number(across.x()) + ' ' + number(across.y()) + ' ' +
                               number(up.x()) + ' ' + number(up.y()) + ' ' + number(origin.x()) +
                               ' ' + number(origin.y()) + " cm /Im0 Do Q\n";

    QPDFObjectHandle xObjects = QPDFObjectHandle::newDictionary();
    xObjects.replaceKey("/Im0", image);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xObjects);
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", name("/Page"));
    page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(
                                     0, 0, shownWidth * scale, shownHeight * scale)));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", pdf.newStream(content.toStdString()));
    return pdf.makeIndirectObject(page);
}

class Merger
{
public:
    Merger() { m_document.emptyPDF(); }

    // Appends every page of the PDF that can be read; answers how many were appended.
    int appendPDF(const QString &path)
    {
        const QString fileName = QFileInfo(path).fileName();
        // Only regular files: a folder named like a PDF holds no pages, and reading a pipe could
        // wait forever.
        if (!QFileInfo(path).isFile()) {
            vyoError(lcShelf, u"PDF를 열 수 없어 건너뜀: %{public}s (not a regular file)",
                     fileName);
            return 0;
        }
        auto source = std::make_unique<QPDF>();
        source->setSuppressWarnings(true);
        std::vector<QPDFPageObjectHelper> pages;
        try {
            source->processFile(QFile::encodeName(path).constData());
            pages = QPDFPageDocumentHelper(*source).getAllPages();
        } catch (const std::exception &error) {
            vyoError(lcShelf, u"PDF를 열 수 없어 건너뜀: %{public}s (%{public}s)", fileName,
                     error.what());
            return 0;
        }
        int appended = 0;
        for (QPDFPageObjectHelper &page : pages) {
            try {
                m_pages.addPage(page, false);
                ++appended;
            } catch (const std::exception &error) {
                vyoError(lcShelf, u"PDF 페이지를 건너뜀: %{public}s (%{public}s)", fileName,
                         error.what());
            }
        }
        // Copied pages read their contents from the source while the result is written.
        m_sources.push_back(std::move(source));
        return appended;
    }

    // Appends the image as one page; answers whether it could be read.
    bool appendImage(const QString &path)
    {
        const ImageFile file(path);
        try {
            if (file.format() == "jpeg") {
                if (const std::optional<JPEGHeader> header = embeddableJPEGHeader(file.bytes());
                    header && QSize(header->width, header->height) == file.storedSize()) {
                    const QPDFObjectHandle image = jpegImage(m_document, file.bytes(), *header);
                    m_pages.addPage(
                        QPDFPageObjectHelper(
                            imagePage(m_document, image, file.storedSize(), file.transformation())),
                        false);
                    return true;
                }
            }
            const QImage decoded = file.read();
            if (decoded.isNull()) {
                vyoError(lcShelf, u"이미지를 읽을 수 없어 건너뜀: %{public}s (%{public}s)",
                         QFileInfo(path).fileName(), file.errorString());
                return false;
            }
            const QPDFObjectHandle image = decodedImage(m_document, decoded);
            m_pages.addPage(QPDFPageObjectHelper(imagePage(m_document, image, decoded.size(),
                                                           QImageIOHandler::TransformationNone)),
                            false);
            return true;
        } catch (const std::exception &error) {
            vyoError(lcShelf, u"이미지를 읽을 수 없어 건너뜀: %{public}s (%{public}s)",
                     QFileInfo(path).fileName(), error.what());
            return false;
        }
    }

    bool write(QIODevice *device)
    {
        try {
            DevicePipeline pipeline(device);
            QPDFWriter writer(m_document);
            writer.setOutputPipeline(&pipeline);
            writer.setObjectStreamMode(qpdf_o_generate);
            writer.write();
            return true;
        } catch (const std::exception &error) {
            vyoError(lcShelf, u"PDF를 쓸 수 없음: %{public}s", error.what());
            return false;
        }
    }

private:
    std::vector<std::unique_ptr<QPDF>> m_sources; // destroyed after the document
    QPDF m_document;
    QPDFPageDocumentHelper m_pages{m_document};
};

} // namespace

QString resultFileName()
{
    return QStringLiteral("합친 문서.pdf");
}

QuickAction::Result makeMergedPDF(const QList<Input> &inputs)
{
    Merger merger;
    int pages = 0;
    for (const Input &input : inputs)
        pages += input.isPDF ? merger.appendPDF(input.path) : int(merger.appendImage(input.path));
    if (pages == 0)
        return QuickActions::ActionError::writeFailed();
    return writeResultFile(resultFileName(),
                           [&](QIODevice *device) { return merger.write(device); });
}

} // namespace vyo::PDFMerger
