#pragma once

// The stored form of shelves and items, and the bounded list of recently closed shelves.

#include "core/Geometry.h"
#include "shelf/ShelfColor.h"
#include "shelf/ShelfItem.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace vyo {

class Shelf;

struct StoredItem
{
    enum class Kind { file, link, text, image };

    Kind kind = Kind::text;
    std::optional<QUrl> url;            // file, link and image
    std::optional<QString> text;        // text
    std::optional<QByteArray> bookmark; // file and image, when one could be made

    static StoredItem from(const ShelfItem &item);

    friend bool operator==(const StoredItem &, const StoredItem &) = default;
};

struct ShelfSnapshot
{
    QUuid id;      // the snapshot's own identifier, not the shelf's
    QString title; // the name when present and not empty, else the shelf's title
    std::optional<QString> name;
    std::optional<ShelfColor> color; // never none
    std::optional<QUuid> pinID;
    QList<StoredItem> items;
    std::optional<Rect> frame;
    std::optional<QDateTime> closedAt;

    // A snapshot of a live shelf with a fresh identifier.
    static ShelfSnapshot from(const Shelf &shelf, std::optional<Rect> frame = std::nullopt,
                              std::optional<QDateTime> closedAt = std::nullopt);

    friend bool operator==(const ShelfSnapshot &, const ShelfSnapshot &) = default;
};

// The items of a snapshot brought back, in stored order; moved or renamed files are found through
// their bookmarks, items that cannot be brought back are left out.
QList<ShelfItem> resolveItems(const ShelfSnapshot &snapshot);

// Recently closed shelves: newest first, at most 10, never an empty one.
struct RecentShelves
{
    static constexpr int capacity = 10;

    QList<ShelfSnapshot> snapshots;

    void push(const ShelfSnapshot &snapshot);
    std::optional<ShelfSnapshot> removeSnapshot(const QUuid &id);

    friend bool operator==(const RecentShelves &, const RecentShelves &) = default;
};

// JSON form of the state file. Reading is strict: a missing required member, a wrong type, an
// unknown kind or colour, an address that does not read back as itself or a date beyond some 285
// million years from 2001 is an error (with its description in `error`).
QJsonObject toJson(const StoredItem &item);
QJsonObject toJson(const ShelfSnapshot &snapshot);
std::optional<StoredItem> storedItemFromJson(const QJsonValue &value, QString *error);
std::optional<ShelfSnapshot> snapshotFromJson(const QJsonValue &value, QString *error);

// Dates are stored as seconds since 2001-01-01 00:00:00 UTC.
double toReferenceSeconds(const QDateTime &date);
QDateTime fromReferenceSeconds(double seconds);

} // namespace vyo
