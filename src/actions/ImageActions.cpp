#include "actions/ImageActions.h"

#include "actions/ImageFile.h"
#include "actions/ResultFile.h"
#include "core/Log.h"

#include <QColorSpace>
#include <QFileInfo>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QPainter>

#include <algorithm>

namespace vyo::ImageActions {

using QuickActions::ActionError;

namespace {

// Qt can write these, but not at any size: icon formats hold at most 256 pixels a side.
bool keepsAnySize(const QByteArray &format)
{
    return format != "ico" && format != "cur" && format != "icns";
}

bool isLossy(const QByteArray &format)
{
    return format == "jpeg" || format == "webp";
}

// The format a shrunk image is written in: the source's own when Qt can write it, else PNG.
QByteArray resultFormat(const QByteArray &sourceFormat)
{
    const QList<QByteArray> writable = QImageWriter::supportedImageFormats();
    if (writable.contains(sourceFormat) && keepsAnySize(sourceFormat))
        return sourceFormat;
    return "png";
}

// The preferred file-name extension of the format's MIME type ("jpeg" → "jpg"), "png" when it
// has none.
QString preferredExtension(const QByteArray &format)
{
    const QMimeDatabase database;
    const QList<QByteArray> mimeTypes = QImageWriter::supportedMimeTypes();
    for (const QByteArray &mimeType : mimeTypes) {
        if (!QImageWriter::imageFormatsForMimeType(mimeType).contains(format))
            continue;
        const QString suffix =
            database.mimeTypeForName(QString::fromLatin1(mimeType)).preferredSuffix();
        if (!suffix.isEmpty())
            return suffix;
    }
    return QStringLiteral("png");
}

bool writeImage(QIODevice *device, const QImage &image, const QByteArray &format)
{
    QImageWriter writer(device, format);
    if (isLossy(format))
        writer.setQuality(jpegQuality);
    if (writer.write(image))
        return true;
    vyoError(lcShelf, u"이미지를 쓸 수 없음: %{public}s", writer.errorString());
    return false;
}

ActionError unreadable(const QString &path, const ImageFile &file)
{
    const QString fileName = QFileInfo(path).fileName();
    vyoError(lcShelf, u"이미지를 읽을 수 없음: %{public}s (%{public}s)", fileName,
             file.errorString().isEmpty() ? QStringLiteral("decoding failed") : file.errorString());
    return ActionError::unreadable(fileName);
}

} // namespace

QImage flattenedOntoWhite(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return image;
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.setColorSpace(image.colorSpace());
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();
    return flat;
}

QuickAction::Result makeJPEG(const QString &path)
{
    const ImageFile file(path);
    QImage image = file.read();
    if (image.isNull())
        return unreadable(path, file);
    image = flattenedOntoWhite(image);
    return writeResultFile(resultFileName(nameWithoutExtension(path), QStringLiteral(".jpg")),
                           [&](QIODevice *device) { return writeImage(device, image, "jpeg"); });
}

QuickAction::Result makeResized(const QString &path, int longSide)
{
    const ImageFile file(path);
    if (!file.isReadable())
        return unreadable(path, file);
    const QSize size = file.size();
    if (longSide >= std::max(size.width(), size.height()))
        return ActionError::alreadySmall(QFileInfo(path).fileName());
    const QImage image = file.read(longSide);
    if (image.isNull() || std::max(image.width(), image.height()) != longSide)
        return unreadable(path, file);

    const QByteArray format = resultFormat(file.format());
    const QString suffix =
        QStringLiteral(" (%1px).%2").arg(longSide).arg(preferredExtension(format));
    return writeResultFile(
        resultFileName(nameWithoutExtension(path), suffix), [&](QIODevice *device) {
            return writeImage(device, format == "jpeg" ? flattenedOntoWhite(image) : image, format);
        });
}

} // namespace vyo::ImageActions
