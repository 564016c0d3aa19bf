#pragma once

// Rules for an image that arrives from a web page: what kind of image a file's first bytes show,
// which name it is stored under (taken from a download's Content-Disposition, the name the page's
// browser suggests, or the URL), where the image sits in dropped HTML, and what a data: URL holds.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace vyo {

// An image format recognised by its first bytes: the file extension it is stored with and its
// MIME type.
struct ImageKind
{
    QString extension;
    QString mimeType;
    friend bool operator==(const ImageKind &, const ImageKind &) = default;
};

// The image format whose signature `head` (the first bytes of a file, 16 are enough) starts with:
// PNG, JPEG, GIF, WebP, BMP, TIFF, ICO, AVIF or HEIC. Nothing for anything else (HTML, text, SVG).
std::optional<ImageKind> imageKindOfBytes(const QByteArray &head);

// The name an image of `kind` is stored under: the first of `candidates` (in order of preference)
// that is a usable name after the upload cleaning, else "이미지"; an image extension that does not
// match `kind` is replaced and a missing one added, so the extension always tells the real format.
QString webImageFileName(const QStringList &candidates, const ImageKind &kind);

// The file name a Content-Disposition header gives (`filename*` in UTF-8 preferred over
// `filename`); empty when it gives none.
QString contentDispositionFileName(const QByteArray &header);

// The last segment of a URL's path, decoded; empty for "/" or no path.
QString urlFileName(const QUrl &url);

// The address of the first <img> in `html`, resolved against `base`; only http, https and data:
// image addresses count.
std::optional<QUrl> imageUrlInHtml(const QString &html, const QUrl &base = {});

// Whether `url` can be fetched as a web image: http or https with a host.
bool isWebUrl(const QUrl &url);

// The bytes of a base64 or percent-encoded "data:image/…" URL; nothing for other URLs or bad data.
std::optional<QByteArray> dataImageBytes(const QUrl &url);

} // namespace vyo
