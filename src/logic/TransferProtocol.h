#pragma once

// The language spoken on the data channel between the desktop and one browser: the parser of the
// browser's text messages, the writer of every outgoing message, the data-frame layout (a 4-byte
// big-endian transfer identifier before each piece of a file) and the shelf listing.

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace vyo {

// Thumbnails for listings, by item: JPEG bytes, or empty bytes when making one failed. The share
// center's thumbnail maker fills it; an item without an entry has no thumbnail yet.
using ThumbnailCache = QHash<QUuid, QByteArray>;

// The largest JPEG a listing carries; a larger one is listed like a failed thumbnail ("").
inline constexpr qsizetype maximumThumbnailBytes = 32768;

namespace TransferProtocol {

// A text message from the browser, parsed. Only the fields of its kind carry values; the others
// keep their defaults, so two messages are equal when their kind and payload are.
struct Incoming
{
    enum class Kind { ready, get, getAll, put, end, cancel, unknown };

    Kind kind = Kind::unknown;
    // ready: the largest message the browser accepts, when it said so.
    std::optional<qint64> maxMessageSize;
    // ready: the browser's free-form description of its device ("" when it sent none).
    QString device;
    // get, getAll, put, end, cancel.
    quint32 tid = 0;
    // get.
    QUuid itemID;
    // put.
    QString name;
    quint64 size = 0;

    static Incoming ready(std::optional<qint64> maxMessageSize, const QString &device);
    static Incoming get(quint32 tid, const QUuid &itemID);
    static Incoming getAll(quint32 tid);
    static Incoming put(quint32 tid, const QString &name, quint64 size);
    static Incoming end(quint32 tid);
    static Incoming cancel(quint32 tid);
    static Incoming unknown();

    friend bool operator==(const Incoming &, const Incoming &) = default;
};

// A data frame taken apart.
struct Frame
{
    quint32 tid = 0;
    QByteArray payload;

    friend bool operator==(const Frame &, const Frame &) = default;
};

// Reads one text message of the browser; whatever it cannot read is `unknown`.
Incoming parse(const QString &text);
// The same for the raw bytes of a text message: invalid UTF-8 is replaced, then parsed.
Incoming parse(const QByteArray &utf8);

// Compact JSON text with keys sorted at every level and "/" unescaped; "{}" when the object cannot
// be written. Every message of sharing, on the data channel and on the signaling socket, is
// written with it.
QString encode(const QJsonObject &object);

// The transfer identifier and the payload of a data frame; nothing when it is shorter than the
// 4-byte header.
std::optional<Frame> splitFrame(const QByteArray &message);
// One data frame: `tid` big-endian, then the payload.
QByteArray frame(quint32 tid, const QByteArray &payload);

// Messages of the desktop, written with `encode` by the caller.
QJsonObject fileMessage(quint32 tid, const QString &name, quint64 size, const QString &mime);
QJsonObject endMessage(quint32 tid);
QJsonObject errorMessage(quint32 tid, const QString &message);
QJsonObject storedMessage(quint32 tid);
QJsonObject byeMessage();

// One item of a shared shelf as the other device sees it.
struct ListedItem
{
    enum class Kind { text, link, file };

    QUuid id;
    Kind kind = Kind::file;
    // The item's display name.
    QString name;
    // text: the text; link: the address.
    QString text;
    QUrl url;
    // file: whether it is a folder (sent as a ZIP), and its size when it is a file.
    bool isFolder = false;
    std::optional<qint64> size;
};

// What a shared shelf lists: its title and its items in shelf order, files that still exist only.
struct Listing
{
    QString title;
    QList<ListedItem> items;
};

// The "list" message of a listing. A file's name is sent in NFC, a folder's with ".zip" after
// it; thumbnails of files that are not folders come from `thumbnails`.
QJsonObject listMessage(const Listing &listing, const ThumbnailCache &thumbnails);
// The listed files that are not folders and have no thumbnail entry yet, in listing order: the
// ones a thumbnail maker should look at next.
QList<QUuid> itemsWithoutThumbnail(const Listing &listing, const ThumbnailCache &thumbnails);

} // namespace TransferProtocol

} // namespace vyo
