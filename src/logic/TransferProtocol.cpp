#include "logic/TransferProtocol.h"

#include "core/Ids.h"
#include "core/Json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtEndian>

#include <cmath>

namespace vyo::TransferProtocol {

namespace {

constexpr double twoTo63 = 9223372036854775808.0;
constexpr double twoTo64 = 18446744073709551616.0;

// A JSON number that is a whole number in the range of an unsigned 64-bit integer. Fractions and
// negative numbers are not sizes or transfer identifiers, so they read as missing.
std::optional<quint64> unsigned64(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    if (const qint64 exact = value.toInteger(-1); exact >= 0)
        return quint64(exact);
    const double number = value.toDouble();
    if (number >= twoTo63 && number < twoTo64 && std::trunc(number) == number)
        return quint64(number);
    return std::nullopt;
}

std::optional<quint32> unsigned32(const QJsonValue &value)
{
    const std::optional<quint64> number = unsigned64(value);
    if (!number || *number > 0xFFFFFFFFu)
        return std::nullopt;
    return quint32(*number);
}

std::optional<qint64> signed64(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= -twoTo63 && number < twoTo63) || std::trunc(number) != number)
        return std::nullopt;
    return value.toInteger();
}

Incoming withTid(Incoming::Kind kind, quint32 tid)
{
    Incoming message;
    message.kind = kind;
    message.tid = tid;
    return message;
}

Incoming parseObject(const QJsonObject &object)
{
    const QJsonValue type = object.value(QLatin1String("t"));
    if (!type.isString())
        return Incoming::unknown();
    const QString t = type.toString();
    const std::optional<quint32> tid = unsigned32(object.value(QLatin1String("tid")));

    if (t == u"ready") {
        const QJsonValue device = object.value(QLatin1String("device"));
        return Incoming::ready(signed64(object.value(QLatin1String("maxMessageSize"))),
                               device.isString() ? device.toString() : QString());
    }
    if (t == u"get") {
        const QJsonValue id = object.value(QLatin1String("id"));
        const std::optional<QUuid> itemID =
            id.isString() ? parseUuid(id.toString()) : std::optional<QUuid>();
        if (!tid || !itemID)
            return Incoming::unknown();
        return Incoming::get(*tid, *itemID);
    }
    if (t == u"put") {
        const QJsonValue name = object.value(QLatin1String("name"));
        const std::optional<quint64> size = unsigned64(object.value(QLatin1String("size")));
        if (!tid || !name.isString() || !size)
            return Incoming::unknown();
        return Incoming::put(*tid, name.toString(), *size);
    }
    if (!tid)
        return Incoming::unknown();
    if (t == u"get-all")
        return Incoming::getAll(*tid);
    if (t == u"end")
        return Incoming::end(*tid);
    if (t == u"cancel")
        return Incoming::cancel(*tid);
    return Incoming::unknown();
}

QString thumbText(const QByteArray &jpeg)
{
    if (jpeg.isEmpty() || jpeg.size() > maximumThumbnailBytes)
        return QString();
    return QStringLiteral("data:image/jpeg;base64,") + QString::fromLatin1(jpeg.toBase64());
}

// What the file system says about a listed file or image item.
} // namespace

Incoming Incoming::ready(std::optional<qint64> maxMessageSize, const QString &device)
{
    Incoming message;
    message.kind = Kind::ready;
    message.maxMessageSize = maxMessageSize;
    message.device = device;
    return message;
}

Incoming Incoming::get(quint32 tid, const QUuid &itemID)
{
    Incoming message = withTid(Kind::get, tid);
    message.itemID = itemID;
    return message;
}

Incoming Incoming::getAll(quint32 tid)
{
    return withTid(Kind::getAll, tid);
}

Incoming Incoming::put(quint32 tid, const QString &name, quint64 size)
{
    Incoming message = withTid(Kind::put, tid);
    message.name = name;
    message.size = size;
    return message;
}

Incoming Incoming::end(quint32 tid)
{
    return withTid(Kind::end, tid);
}

Incoming Incoming::cancel(quint32 tid)
{
    return withTid(Kind::cancel, tid);
}

Incoming Incoming::unknown()
{
    return Incoming();
}

Incoming parse(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return Incoming::unknown();
    return parseObject(document.object());
}

// Invalid UTF-8 is replaced first, so that one bad byte does not hide a readable message.
Incoming parse(const QByteArray &utf8)
{
    return parse(QString::fromUtf8(utf8));
}

QString encode(const QJsonObject &object)
{
    return QString::fromUtf8(compactJson(object));
}

std::optional<Frame> splitFrame(const QByteArray &message)
{
    if (message.size() < 4)
        return std::nullopt;
    return Frame{qFromBigEndian<quint32>(message.constData()), message.mid(4)};
}

QByteArray frame(quint32 tid, const QByteArray &payload)
{
    QByteArray message(4 + payload.size(), Qt::Uninitialized);
    qToBigEndian(tid, message.data());
    std::copy(payload.begin(), payload.end(), message.begin() + 4);
    return message;
}

QJsonObject fileMessage(quint32 tid, const QString &name, quint64 size, const QString &mime)
{
    return QJsonObject{{QStringLiteral("t"), QStringLiteral("file")},
                       {QStringLiteral("tid"), qint64(tid)},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("size"), qint64(size)},
                       {QStringLiteral("mime"), mime}};
}

QJsonObject endMessage(quint32 tid)
{
    return QJsonObject{{QStringLiteral("t"), QStringLiteral("end")},
                       {QStringLiteral("tid"), qint64(tid)}};
}

QJsonObject errorMessage(quint32 tid, const QString &message)
{
    return QJsonObject{{QStringLiteral("t"), QStringLiteral("error")},
                       {QStringLiteral("tid"), qint64(tid)},
                       {QStringLiteral("message"), message}};
}

QJsonObject storedMessage(quint32 tid)
{
    return QJsonObject{{QStringLiteral("t"), QStringLiteral("stored")},
                       {QStringLiteral("tid"), qint64(tid)}};
}

QJsonObject byeMessage()
{
    return QJsonObject{{QStringLiteral("t"), QStringLiteral("bye")}};
}

QJsonObject listMessage(const Listing &listing, const ThumbnailCache &thumbnails)
{
    QJsonArray items;
    for (const ListedItem &item : listing.items) {
        QJsonObject entry{{QStringLiteral("id"), uuidText(item.id)}};
        switch (item.kind) {
        case ListedItem::Kind::text:
            entry.insert(QStringLiteral("kind"), QStringLiteral("text"));
            entry.insert(QStringLiteral("name"), item.name);
            entry.insert(QStringLiteral("text"), item.text);
            break;
        case ListedItem::Kind::link:
            entry.insert(QStringLiteral("kind"), QStringLiteral("link"));
            entry.insert(QStringLiteral("name"), item.name);
            entry.insert(QStringLiteral("url"), item.url.toString(QUrl::FullyEncoded));
            break;
        case ListedItem::Kind::file: {
            QString name = item.name.normalized(QString::NormalizationForm_C);
            if (item.isFolder)
                name += QStringLiteral(".zip");
            entry.insert(QStringLiteral("kind"), QStringLiteral("file"));
            entry.insert(QStringLiteral("name"), name);
            entry.insert(QStringLiteral("isFolder"), item.isFolder);
            if (item.size)
                entry.insert(QStringLiteral("size"), *item.size);
            if (!item.isFolder) {
                if (const auto thumb = thumbnails.constFind(item.id); thumb != thumbnails.cend())
                    entry.insert(QStringLiteral("thumb"), thumbText(*thumb));
            }
            break;
        }
        }
        items.append(entry);
    }
    return QJsonObject{{QStringLiteral("t"), QStringLiteral("list")},
                       {QStringLiteral("title"), listing.title},
                       {QStringLiteral("items"), items}};
}

QList<QUuid> itemsWithoutThumbnail(const Listing &listing, const ThumbnailCache &thumbnails)
{
    QList<QUuid> missing;
    for (const ListedItem &item : listing.items) {
        if (item.kind == ListedItem::Kind::file && !item.isFolder && !thumbnails.contains(item.id))
            missing.append(item.id);
    }
    return missing;
}

} // namespace vyo::TransferProtocol
