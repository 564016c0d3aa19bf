#include "shelf/ShelfSnapshot.h"

#include "core/Ids.h"
#include "core/Log.h"
#include "platform/FileBookmark.h"
#include "shelf/Shelf.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QTimeZone>

#include <cmath>

namespace vyo {

namespace {

constexpr qint64 referenceDateMilliseconds = 978307200000; // 2001-01-01T00:00:00Z
// Stored dates further out (some 285 million years) have no millisecond count in 64 bits.
constexpr double maximumReferenceSeconds = 9e15;

QString kindText(StoredItem::Kind kind)
{
    switch (kind) {
    case StoredItem::Kind::file:
        return QStringLiteral("file");
    case StoredItem::Kind::link:
        return QStringLiteral("link");
    case StoredItem::Kind::text:
        return QStringLiteral("text");
    case StoredItem::Kind::image:
        return QStringLiteral("image");
    }
    return {};
}

std::optional<StoredItem::Kind> kindFromText(const QString &text)
{
    for (auto kind : {StoredItem::Kind::file, StoredItem::Kind::link, StoredItem::Kind::text,
                      StoredItem::Kind::image}) {
        if (kindText(kind) == text)
            return kind;
    }
    return std::nullopt;
}

std::optional<QByteArray> bookmarkOf(const QUrl &url)
{
    QString error;
    auto bookmark = createFileBookmark(url.toLocalFile(), &error);
    if (!bookmark)
        vyoDebug(lcShelf, u"북마크 생성 실패: %{public}s", error);
    return bookmark;
}

// Reads JSON members strictly, remembering the first problem.
class Reader
{
public:
    Reader(const QJsonObject &object, QString *error)
        : m_object(object)
        , m_error(error)
    {}

    bool failed() const { return m_failed; }

    std::optional<QString> string(const QString &key, bool required)
    {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined())
            return missing(key, required), std::nullopt;
        if (!value.isString())
            return fail(QStringLiteral("\"%1\"은(는) 문자열이어야 함").arg(key)), std::nullopt;
        return value.toString();
    }

    std::optional<double> number(const QString &key, bool required)
    {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined())
            return missing(key, required), std::nullopt;
        if (!value.isDouble())
            return fail(QStringLiteral("\"%1\"은(는) 숫자여야 함").arg(key)), std::nullopt;
        return value.toDouble();
    }

    std::optional<QJsonArray> array(const QString &key, bool required)
    {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined())
            return missing(key, required), std::nullopt;
        if (!value.isArray())
            return fail(QStringLiteral("\"%1\"은(는) 배열이어야 함").arg(key)), std::nullopt;
        return value.toArray();
    }

    void fail(const QString &message)
    {
        if (!m_failed && m_error)
            *m_error = message;
        m_failed = true;
    }

private:
    void missing(const QString &key, bool required)
    {
        if (required)
            fail(QStringLiteral("필수 항목 \"%1\"이(가) 없음").arg(key));
    }

    QJsonObject m_object;
    QString *m_error;
    bool m_failed = false;
};

std::optional<Rect> frameFromJson(const QJsonArray &array)
{
    const auto pair = [](const QJsonValue &value) -> std::optional<std::pair<double, double>> {
        const QJsonArray numbers = value.toArray();
        if (!value.isArray() || numbers.size() != 2 || !numbers[0].isDouble() ||
            !numbers[1].isDouble())
            return std::nullopt;
        return std::pair{numbers[0].toDouble(), numbers[1].toDouble()};
    };
    if (array.size() != 2)
        return std::nullopt;
    const auto origin = pair(array[0]);
    const auto size = pair(array[1]);
    if (!origin || !size)
        return std::nullopt;
    return Rect{{origin->first, origin->second}, {size->first, size->second}};
}

} // namespace

double toReferenceSeconds(const QDateTime &date)
{
    return double(date.toMSecsSinceEpoch() - referenceDateMilliseconds) / 1000.0;
}

QDateTime fromReferenceSeconds(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(
        referenceDateMilliseconds + qint64(std::llround(seconds * 1000.0)), Qt::UTC);
}

StoredItem StoredItem::from(const ShelfItem &item)
{
    const ShelfItem::Content &content = item.content();
    StoredItem stored;
    switch (content.kind()) {
    case ShelfItem::Content::Kind::file:
        stored.kind = Kind::file;
        stored.url = content.url();
        stored.bookmark = bookmarkOf(content.url());
        break;
    case ShelfItem::Content::Kind::link:
        stored.kind = Kind::link;
        stored.url = content.url();
        break;
    case ShelfItem::Content::Kind::text:
        stored.kind = Kind::text;
        stored.text = content.text();
        break;
    case ShelfItem::Content::Kind::image:
        stored.kind = Kind::image;
        stored.url = content.url();
        stored.bookmark = bookmarkOf(content.url());
        break;
    }
    return stored;
}

ShelfSnapshot ShelfSnapshot::from(const Shelf &shelf, std::optional<Rect> frame,
                                  std::optional<QDateTime> closedAt)
{
    ShelfSnapshot snapshot;
    snapshot.id = newId();
    const bool named = shelf.name() && !shelf.name()->isEmpty();
    snapshot.title = named ? *shelf.name() : shelf.title();
    snapshot.name = shelf.name();
    if (shelf.color() != ShelfColor::none)
        snapshot.color = shelf.color();
    snapshot.pinID = shelf.pinID();
    for (const ShelfItem &item : shelf.items())
        snapshot.items.append(StoredItem::from(item));
    snapshot.frame = frame;
    snapshot.closedAt = closedAt;
    return snapshot;
}

QList<ShelfItem> resolveItems(const ShelfSnapshot &snapshot)
{
    // Searching for every moved file of the shelf takes a second at most together, so a shelf of
    // deleted downloads cannot hold up a restore or reopen for long.
    BookmarkSearchLimits limits;
    limits.sharedDeadline = QDeadlineTimer(1000);
    QList<ShelfItem> items;
    for (const StoredItem &stored : snapshot.items) {
        switch (stored.kind) {
        case StoredItem::Kind::file:
        case StoredItem::Kind::image: {
            std::optional<QUrl> url;
            if (stored.url && stored.url->isLocalFile() &&
                QFileInfo::exists(stored.url->toLocalFile()))
                url = stored.url;
            else if (stored.bookmark) {
                if (const auto path = resolveFileBookmark(*stored.bookmark, limits))
                    url = QUrl::fromLocalFile(*path);
            }
            if (!url)
                break;
            items.append(ShelfItem(stored.kind == StoredItem::Kind::file
                                       ? ShelfItem::Content::file(*url)
                                       : ShelfItem::Content::image(*url)));
            break;
        }
        case StoredItem::Kind::link:
            if (stored.url)
                items.append(ShelfItem(ShelfItem::Content::link(*stored.url)));
            break;
        case StoredItem::Kind::text:
            if (stored.text)
                items.append(ShelfItem(ShelfItem::Content::text(*stored.text)));
            break;
        }
    }
    return items;
}

void RecentShelves::push(const ShelfSnapshot &snapshot)
{
    if (snapshot.items.isEmpty())
        return;
    snapshots.removeIf([&snapshot](const ShelfSnapshot &s) { return s.id == snapshot.id; });
    snapshots.prepend(snapshot);
    while (snapshots.size() > capacity)
        snapshots.removeLast();
}

std::optional<ShelfSnapshot> RecentShelves::removeSnapshot(const QUuid &id)
{
    for (qsizetype i = 0; i < snapshots.size(); ++i) {
        if (snapshots[i].id == id)
            return snapshots.takeAt(i);
    }
    return std::nullopt;
}

QJsonObject toJson(const StoredItem &item)
{
    QJsonObject object{{QStringLiteral("kind"), kindText(item.kind)}};
    if (item.url)
        object.insert(QStringLiteral("url"), item.url->toString(QUrl::FullyEncoded));
    if (item.text)
        object.insert(QStringLiteral("text"), *item.text);
    if (item.bookmark)
        object.insert(QStringLiteral("bookmark"), QString::fromLatin1(item.bookmark->toBase64()));
    return object;
}

QJsonObject toJson(const ShelfSnapshot &snapshot)
{
    QJsonArray items;
    for (const StoredItem &item : snapshot.items)
        items.append(toJson(item));
    QJsonObject object{
        {QStringLiteral("id"), uuidText(snapshot.id)},
        {QStringLiteral("title"), snapshot.title},
        {QStringLiteral("items"), items},
    };
    if (snapshot.name)
        object.insert(QStringLiteral("name"), *snapshot.name);
    if (snapshot.color)
        object.insert(QStringLiteral("color"), rawValue(*snapshot.color));
    if (snapshot.pinID)
        object.insert(QStringLiteral("pinID"), uuidText(*snapshot.pinID));
    if (snapshot.frame) {
        const Rect &f = *snapshot.frame;
        object.insert(QStringLiteral("frame"), QJsonArray{QJsonArray{f.origin.x, f.origin.y},
                                                          QJsonArray{f.size.width, f.size.height}});
    }
    if (snapshot.closedAt)
        object.insert(QStringLiteral("closedAt"), toReferenceSeconds(*snapshot.closedAt));
    return object;
}

std::optional<StoredItem> storedItemFromJson(const QJsonValue &value, QString *error)
{
    if (!value.isObject()) {
        if (error)
            *error = QStringLiteral("항목이 객체가 아님");
        return std::nullopt;
    }
    Reader reader(value.toObject(), error);
    StoredItem item;
    const auto kind = reader.string(QStringLiteral("kind"), true);
    const auto url = reader.string(QStringLiteral("url"), false);
    item.text = reader.string(QStringLiteral("text"), false);
    const auto bookmark = reader.string(QStringLiteral("bookmark"), false);
    if (reader.failed())
        return std::nullopt;
    const auto parsedKind = kindFromText(*kind);
    if (!parsedKind) {
        reader.fail(QStringLiteral("알 수 없는 종류 \"%1\"").arg(*kind));
        return std::nullopt;
    }
    item.kind = *parsedKind;
    if (url) {
        // An address that does not read back as itself once written (one that does not parse,
        // or text that is not Unicode) would be lost or changed by the next save.
        item.url = QUrl(*url, QUrl::StrictMode);
        if (QUrl(item.url->toString(QUrl::FullyEncoded), QUrl::StrictMode) != *item.url) {
            reader.fail(QStringLiteral("\"url\"이(가) 올바른 주소가 아님"));
            return std::nullopt;
        }
    }
    if (bookmark) {
        auto decoded = QByteArray::fromBase64Encoding(bookmark->toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            reader.fail(QStringLiteral("\"bookmark\"이(가) Base64가 아님"));
            return std::nullopt;
        }
        item.bookmark = decoded.decoded;
    }
    return item;
}

std::optional<ShelfSnapshot> snapshotFromJson(const QJsonValue &value, QString *error)
{
    if (!value.isObject()) {
        if (error)
            *error = QStringLiteral("스냅샷이 객체가 아님");
        return std::nullopt;
    }
    Reader reader(value.toObject(), error);
    const auto id = reader.string(QStringLiteral("id"), true);
    const auto title = reader.string(QStringLiteral("title"), true);
    const auto name = reader.string(QStringLiteral("name"), false);
    const auto color = reader.string(QStringLiteral("color"), false);
    const auto pinID = reader.string(QStringLiteral("pinID"), false);
    const auto items = reader.array(QStringLiteral("items"), true);
    const auto frame = reader.array(QStringLiteral("frame"), false);
    const auto closedAt = reader.number(QStringLiteral("closedAt"), false);
    if (reader.failed())
        return std::nullopt;

    ShelfSnapshot snapshot;
    const auto parsedId = parseUuid(*id);
    if (!parsedId)
        return reader.fail(QStringLiteral("\"id\"가 UUID가 아님")), std::nullopt;
    snapshot.id = *parsedId;
    snapshot.title = *title;
    snapshot.name = name;
    if (color) {
        const auto parsedColor = shelfColorFromRawValue(*color);
        if (!parsedColor)
            return reader.fail(QStringLiteral("알 수 없는 색 \"%1\"").arg(*color)), std::nullopt;
        if (*parsedColor != ShelfColor::none)
            snapshot.color = parsedColor;
    }
    if (pinID) {
        const auto parsedPin = parseUuid(*pinID);
        if (!parsedPin)
            return reader.fail(QStringLiteral("\"pinID\"가 UUID가 아님")), std::nullopt;
        snapshot.pinID = parsedPin;
    }
    for (const QJsonValue &itemValue : *items) {
        auto item = storedItemFromJson(itemValue, error);
        if (!item)
            return std::nullopt;
        snapshot.items.append(*item);
    }
    if (frame) {
        snapshot.frame = frameFromJson(*frame);
        if (!snapshot.frame)
            return reader.fail(QStringLiteral("\"frame\"의 형식이 맞지 않음")), std::nullopt;
    }
    if (closedAt) {
        if (!(std::abs(*closedAt) <= maximumReferenceSeconds))
            return reader.fail(QStringLiteral("\"closedAt\"이(가) 올바른 수가 아님")), std::nullopt;
        snapshot.closedAt = fromReferenceSeconds(*closedAt);
    }
    return snapshot;
}

} // namespace vyo
