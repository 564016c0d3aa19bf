#include "shelf/ShelfItem.h"

#include "core/Ids.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "platform/IconTheme.h"
#include "shelf/WebImageDrop.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMimeData>
#include <QMimeDatabase>

namespace vyo {

namespace {

bool isNewline(QChar c)
{
    switch (c.unicode()) {
    case u'\n':
    case u'\v':
    case u'\f':
    case u'\r':
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

QString firstLine(const QString &text)
{
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !isNewline(text[end]))
            ++end;
        if (end > start)
            return text.mid(start, end - start);
        start = end + 1;
    }
    return text;
}

QIcon themeIcon(const QString &name, const QString &fallback = {})
{
    ensureIconTheme();
    QIcon icon = QIcon::fromTheme(name);
    if (icon.isNull() && !fallback.isEmpty())
        icon = QIcon::fromTheme(fallback);
    return icon;
}

QIcon fileIcon(const QString &path)
{
    if (QFileInfo(path).isDir())
        return themeIcon(QStringLiteral("folder"));
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    return themeIcon(type.iconName(), type.genericIconName());
}

constexpr char pngSignature[] = "\x89PNG\r\n\x1a\n";

// PNG bytes of the image data offered: PNG as it is, else TIFF or any other decodable image
// re-encoded as PNG. Empty when there is none or it cannot be decoded.
QByteArray pngFromMimeData(const QMimeData *data)
{
    const QByteArray png = data->data(QStringLiteral("image/png"));
    if (png.startsWith(QByteArray(pngSignature, 8)))
        return png;

    QImage image;
    if (data->hasFormat(QStringLiteral("image/tiff")))
        image.loadFromData(data->data(QStringLiteral("image/tiff")), "TIFF");
    if (image.isNull() && data->hasImage())
        image = qvariant_cast<QImage>(data->imageData());
    if (image.isNull())
        return {};
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG"))
        return {};
    return encoded;
}

std::optional<QUrl> saveImageFromMimeData(const QMimeData *data)
{
    const QByteArray png = pngFromMimeData(data);
    if (png.isEmpty())
        return std::nullopt;
    QString error;
    const std::optional<QString> folder = makeDropDirectory(&error);
    if (!folder) {
        vyoError(lcDrop, u"이미지 저장 실패: %{public}s", error);
        return std::nullopt;
    }
    QFile file(*folder + QStringLiteral("/이미지.png"));
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size()) {
        vyoError(lcDrop, u"이미지 저장 실패: %{public}s", file.errorString());
        return std::nullopt;
    }
    return QUrl::fromLocalFile(file.fileName());
}

// URLs of a Mozilla "text/x-moz-url" entry: UTF-16 lines alternating URL and title.
QList<QUrl> mozillaUrls(const QMimeData *data)
{
    const QByteArray raw = data->data(QStringLiteral("text/x-moz-url"));
    if (raw.isEmpty())
        return {};
    const QString text =
        QString::fromUtf16(reinterpret_cast<const char16_t *>(raw.constData()), raw.size() / 2);
    QList<QUrl> urls;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); i += 2) {
        const QUrl url(lines[i].trimmed(), QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            urls.append(url);
    }
    return urls;
}

} // namespace

ShelfItem::ShelfItem() = default;

ShelfItem::ShelfItem(Content content)
    : m_id(newId())
    , m_content(std::move(content))
    , m_displayName(displayName(m_content))
    , m_icon(icon(m_content))
{}

bool ShelfItem::exists() const
{
    return !m_content.isFileBacked() || QFileInfo::exists(m_content.url().toLocalFile());
}

QString ShelfItem::displayName(const Content &content)
{
    switch (content.kind()) {
    case Content::Kind::file: {
        const QString path = content.url().toLocalFile();
        const QString name = QFileInfo(QDir::cleanPath(path)).fileName();
        return name.isEmpty() ? QDir::cleanPath(path) : name;
    }
    case Content::Kind::link: {
        const QString host = content.url().host(QUrl::FullyEncoded);
        return host.isEmpty() ? content.url().toString(QUrl::FullyEncoded) : host;
    }
    case Content::Kind::text:
        return firstLine(content.text());
    case Content::Kind::image:
        return QStringLiteral("이미지");
    }
    return {};
}

QIcon ShelfItem::icon(const Content &content)
{
    switch (content.kind()) {
    case Content::Kind::file:
        return fileIcon(content.url().toLocalFile());
    case Content::Kind::link:
        return themeIcon(QStringLiteral("insert-link"), QStringLiteral("text-html"));
    case Content::Kind::text:
        return themeIcon(QStringLiteral("text-x-generic"));
    case Content::Kind::image: {
        const QString path = content.url().toLocalFile();
        // QIcon loads the file lazily; only the header is read here.
        if (QImageReader(path).canRead())
            return QIcon(path);
        return themeIcon(QStringLiteral("image-x-generic"));
    }
    }
    return {};
}

QList<ShelfItem> ShelfItem::items(const QMimeData *data)
{
    if (!data)
        return {};
    QList<ShelfItem> result;

    const QList<QUrl> urls = data->hasUrls() ? data->urls() : mozillaUrls(data);
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            result.append(ShelfItem(Content::file(url)));
    }
    if (!result.isEmpty())
        return result;

    if (const std::optional<QUrl> image = saveImageFromMimeData(data))
        return {ShelfItem(Content::image(*image))};

    for (const QUrl &url : urls) {
        if (url.isValid() && !url.isEmpty())
            result.append(ShelfItem(Content::link(url)));
    }
    if (!result.isEmpty())
        return result;

    if (data->hasText()) {
        const QString text = data->text();
        if (!text.trimmed().isEmpty())
            result.append(ShelfItem(Content::text(text)));
    }
    return result;
}

bool ShelfItem::offersPromisedFiles(const QMimeData *data)
{
    if (!data || !data->hasFormat(QStringLiteral("XdndDirectSave0")))
        return false;
    // Real files take precedence: they are handled by items().
    const QList<QUrl> urls = data->urls();
    return std::none_of(urls.begin(), urls.end(),
                        [](const QUrl &url) { return url.isLocalFile(); });
}

bool ShelfItem::receivePromisedFiles(const QMimeData *data, const PromiseHandler &handler)
{
    return offersPromisedFiles(data) && WebImageDrop::start(data, handler);
}

const QStringList &ShelfItem::acceptedTypes()
{
    static const QStringList types = {
        QStringLiteral("text/uri-list"),
        QStringLiteral("text/x-moz-url"),
        QStringLiteral("image/png"),
        QStringLiteral("image/tiff"),
        QStringLiteral("application/x-qt-image"),
        QStringLiteral("text/plain;charset=utf-8"),
        QStringLiteral("text/plain"),
        // What a file promise offers: X Direct Save.
        QStringLiteral("XdndDirectSave0"),
    };
    return types;
}

bool ShelfItem::canAccept(const QMimeData *data)
{
    if (!data)
        return false;
    const QStringList &types = acceptedTypes();
    return std::any_of(types.begin(), types.end(),
                       [data](const QString &type) { return data->hasFormat(type); }) ||
           data->hasUrls() || data->hasText() || data->hasImage();
}

QString itemsDirectory()
{
    return applicationDataDirectory() + QStringLiteral("/Items");
}

std::optional<QString> makeDropDirectory(QString *error)
{
    const QString path = itemsDirectory() + u'/' + uuidText(newId());
    if (!QDir().mkpath(path)) {
        if (error)
            *error = QStringLiteral("폴더를 만들 수 없음: %1").arg(path);
        return std::nullopt;
    }
    return path;
}

QMimeData *makeMimeData(const QList<ShelfItem> &items)
{
    auto *data = new QMimeData;
    QList<QUrl> urls;
    QStringList lines;
    QByteArray copiedFiles = "copy";
    for (const ShelfItem &item : items) {
        const ShelfItem::Content &content = item.content();
        switch (content.kind()) {
        case ShelfItem::Content::Kind::text:
            lines.append(content.text());
            break;
        case ShelfItem::Content::Kind::link:
            urls.append(content.url());
            lines.append(content.url().toString(QUrl::FullyEncoded));
            break;
        case ShelfItem::Content::Kind::file:
        case ShelfItem::Content::Kind::image:
            urls.append(content.url());
            lines.append(content.url().toLocalFile());
            copiedFiles += '\n' + content.url().toEncoded();
            break;
        }
    }
    if (!urls.isEmpty())
        data->setUrls(urls);
    if (copiedFiles.contains('\n'))
        data->setData(QStringLiteral("x-special/gnome-copied-files"), copiedFiles);
    if (!lines.isEmpty())
        data->setText(lines.join(u'\n'));
    return data;
}

} // namespace vyo
