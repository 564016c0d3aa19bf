#include "logic/WebImageName.h"

#include "logic/UploadName.h"

#include <QRegularExpression>

#include <array>

namespace vyo {

namespace {

struct KnownKind
{
    ImageKind kind;
    // Every extension files of this kind are known by, the stored one first.
    QStringList extensions;
};

const std::array<KnownKind, 9> &knownKinds()
{
    static const std::array<KnownKind, 9> kinds = {{
        {{u"png"_qs, u"image/png"_qs}, {u"png"_qs}},
        {{u"jpg"_qs, u"image/jpeg"_qs}, {u"jpg"_qs, u"jpeg"_qs, u"jpe"_qs, u"jfif"_qs}},
        {{u"gif"_qs, u"image/gif"_qs}, {u"gif"_qs}},
        {{u"webp"_qs, u"image/webp"_qs}, {u"webp"_qs}},
        {{u"bmp"_qs, u"image/bmp"_qs}, {u"bmp"_qs}},
        {{u"tiff"_qs, u"image/tiff"_qs}, {u"tiff"_qs, u"tif"_qs}},
        {{u"ico"_qs, u"image/vnd.microsoft.icon"_qs}, {u"ico"_qs}},
        {{u"avif"_qs, u"image/avif"_qs}, {u"avif"_qs}},
        {{u"heic"_qs, u"image/heic"_qs}, {u"heic"_qs, u"heif"_qs}},
    }};
    return kinds;
}

const KnownKind &known(const QString &extension)
{
    for (const KnownKind &entry : knownKinds()) {
        if (entry.kind.extension == extension)
            return entry;
    }
    return knownKinds().front();
}

bool isImageExtension(const QString &suffix)
{
    if (suffix == u"svg")
        return true;
    for (const KnownKind &entry : knownKinds()) {
        if (entry.extensions.contains(suffix))
            return true;
    }
    return false;
}

// `name` (already cleaned) with the extension of `kind`.
QString withExtension(const QString &name, const ImageKind &kind)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString suffix = dot > 0 ? name.mid(dot + 1).toLower() : QString();
    if (!suffix.isEmpty() && known(kind.extension).extensions.contains(suffix))
        return name;
    if (!suffix.isEmpty() && isImageExtension(suffix))
        return name.left(dot + 1) + kind.extension;
    return name + u'.' + kind.extension;
}

QString decodeEntities(QString text)
{
    text.replace(u"&quot;"_qs, u"\""_qs);
    text.replace(u"&#39;"_qs, u"'"_qs);
    text.replace(u"&lt;"_qs, u"<"_qs);
    text.replace(u"&gt;"_qs, u">"_qs);
    text.replace(u"&amp;"_qs, u"&"_qs);
    return text;
}

} // namespace

std::optional<ImageKind> imageKindOfBytes(const QByteArray &head)
{
    auto kind = [](const char *extension) { return known(QString::fromLatin1(extension)).kind; };
    if (head.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return kind("png");
    if (head.startsWith("\xff\xd8\xff"))
        return kind("jpg");
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return kind("gif");
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return kind("webp");
    if (head.size() >= 14 && head.startsWith("BM"))
        return kind("bmp");
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return kind("tiff");
    if (head.size() >= 6 && head.startsWith(QByteArray("\0\0\1\0", 4)) && head[4] != 0)
        return kind("ico");
    if (head.mid(4, 4) == "ftyp") {
        const QByteArray brand = head.mid(8, 4);
        if (brand == "avif" || brand == "avis")
            return kind("avif");
        if (brand == "heic" || brand == "heix" || brand == "heim" || brand == "heis" ||
            brand == "mif1")
            return kind("heic");
    }
    return std::nullopt;
}

QString webImageFileName(const QStringList &candidates, const ImageKind &kind)
{
    for (const QString &candidate : candidates) {
        const std::optional<QString> cleaned = cleanUploadName(candidate);
        if (!cleaned)
            continue;
        // The added extension may push a long name over the length limit: clean once more.
        if (const std::optional<QString> named = cleanUploadName(withExtension(*cleaned, kind)))
            return *named;
    }
    return u"이미지."_qs + kind.extension;
}

QString contentDispositionFileName(const QByteArray &header)
{
    const QString text = QString::fromUtf8(header);
    static const QRegularExpression extended(
        uR"re((?:^|;)\s*filename\*\s*=\s*([^';]*)'[^']*'([^;\s]*))re"_qs,
        QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch match = extended.match(text); match.hasMatch()) {
        const QByteArray bytes = QByteArray::fromPercentEncoding(match.captured(2).toLatin1());
        const QString name = match.captured(1).compare(u"utf-8"_qs, Qt::CaseInsensitive) == 0
                                 ? QString::fromUtf8(bytes)
                                 : QString::fromLatin1(bytes);
        if (!name.isEmpty())
            return name;
    }
    static const QRegularExpression plain(
        uR"re((?:^|;)\s*filename\s*=\s*(?:"((?:[^"\\]|\\.)*)"|([^;]*)))re"_qs,
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = plain.match(text);
    if (!match.hasMatch())
        return {};
    if (match.capturedLength(1) > 0) {
        static const QRegularExpression escaped(uR"re(\\(.))re"_qs);
        return match.captured(1).replace(escaped, u"\\1"_qs);
    }
    return match.captured(2).trimmed();
}

QString urlFileName(const QUrl &url)
{
    return url.fileName(QUrl::FullyDecoded);
}

bool isWebUrl(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

std::optional<QUrl> imageUrlInHtml(const QString &html, const QUrl &base)
{
    static const QRegularExpression image(
        uR"re(<img\b[^>]*?\bsrc\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>]+)))re"_qs,
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = image.match(html);
    if (!match.hasMatch())
        return std::nullopt;
    QString source;
    for (int group = 1; group <= 3 && source.isEmpty(); ++group)
        source = match.captured(group);
    const QUrl relative(decodeEntities(source).trimmed());
    const QUrl url = base.isValid() && !base.isEmpty() ? base.resolved(relative) : relative;
    if (isWebUrl(url) || dataImageBytes(url))
        return url;
    return std::nullopt;
}

std::optional<QByteArray> dataImageBytes(const QUrl &url)
{
    if (url.scheme().compare(u"data"_qs, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const QByteArray path = url.path(QUrl::FullyEncoded).toLatin1();
    const qsizetype comma = path.indexOf(',');
    if (comma < 0)
        return std::nullopt;
    const QByteArray meta = QByteArray::fromPercentEncoding(path.left(comma)).toLower();
    if (!meta.startsWith("image/"))
        return std::nullopt;
    QByteArray payload = QByteArray::fromPercentEncoding(path.mid(comma + 1));
    if (meta.endsWith(";base64")) {
        payload = payload.simplified().replace(' ', QByteArray());
        auto decoded =
            QByteArray::fromBase64Encoding(payload, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        payload = *decoded;
    }
    if (payload.isEmpty())
        return std::nullopt;
    return payload;
}

} // namespace vyo
