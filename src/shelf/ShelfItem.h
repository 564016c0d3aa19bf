#pragma once

// One thing on a shelf: a file, a web link, a piece of text or a pasted image. Items are
// immutable values; two items are equal exactly when their identifiers are.

#include <QIcon>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <optional>

class QMimeData;

namespace vyo {

class ShelfItem
{
public:
    // What an item holds. Two contents are equal when they are the same kind with an equal
    // payload; de-duplication on a shelf uses this equality.
    class Content
    {
    public:
        enum class Kind { file, link, text, image };

        static Content file(const QUrl &url) { return Content(Kind::file, url, {}); }
        static Content link(const QUrl &url) { return Content(Kind::link, url, {}); }
        static Content text(const QString &text) { return Content(Kind::text, {}, text); }
        static Content image(const QUrl &url) { return Content(Kind::image, url, {}); }

        Kind kind() const { return m_kind; }
        // The URL of file, link and image contents; empty for text.
        const QUrl &url() const { return m_url; }
        // The text of a text content; empty otherwise.
        const QString &text() const { return m_text; }
        // File and image contents live on disk.
        bool isFileBacked() const { return m_kind == Kind::file || m_kind == Kind::image; }

        friend bool operator==(const Content &a, const Content &b)
        {
            return a.m_kind == b.m_kind && a.m_url == b.m_url && a.m_text == b.m_text;
        }
        friend size_t qHash(const Content &content, size_t seed = 0)
        {
            return qHashMulti(seed, static_cast<int>(content.m_kind), content.m_url,
                              content.m_text);
        }

    private:
        Content(Kind kind, QUrl url, QString text)
            : m_kind(kind)
            , m_url(std::move(url))
            , m_text(std::move(text))
        {}

        Kind m_kind = Kind::text;
        QUrl m_url;
        QString m_text;
    };

    // An item with no identifier, for containers only.
    ShelfItem();
    // A new item with a fresh identifier, its display name and icon made from the content.
    explicit ShelfItem(Content content);

    const QUuid &id() const { return m_id; }
    const Content &content() const { return m_content; }
    const QString &displayName() const { return m_displayName; }
    const QIcon &icon() const { return m_icon; }

    // File and image items whose file is gone are left out of copies, drags, previews and
    // listings; links and texts always exist.
    bool exists() const;

    friend bool operator==(const ShelfItem &a, const ShelfItem &b) { return a.m_id == b.m_id; }
    friend size_t qHash(const ShelfItem &item, size_t seed = 0) { return qHash(item.m_id, seed); }

    static QString displayName(const Content &content);
    static QIcon icon(const Content &content);

    // New items from dropped or pasted data: file URLs, else image data (written as "이미지.png"
    // into a fresh drop folder), else other URLs, else non-blank text.
    static QList<ShelfItem> items(const QMimeData *data);

    // Called on the main thread with each item a promise brings: a received file, or a link that
    // waits on the shelf until its file arrives. `replacing` names the waiting item the new one
    // takes the place of (null for a new item).
    using PromiseHandler = std::function<void(const ShelfItem &item, const QUuid &replacing)>;

    // Starts receiving promised files (X Direct Save, with the fall-backs of a web image) into a
    // fresh drop folder and calls `handler` as they arrive. True when receiving started; data
    // that carries real file URLs is never treated as a promise.
    static bool receivePromisedFiles(const QMimeData *data, const PromiseHandler &handler);
    // Whether `data` promises files (and carries no real ones). The drop lasts a moment longer
    // while the source answers: a drop target marks its shelf as having received the drop before
    // that, so that a shelf opened by a shake is not closed meanwhile as empty.
    static bool offersPromisedFiles(const QMimeData *data);

    // The MIME types a shelf window accepts in drops.
    static const QStringList &acceptedTypes();

    // Whether the data offers anything a shelf accepts.
    static bool canAccept(const QMimeData *data);

private:
    QUuid m_id;
    Content m_content = Content::text({});
    QString m_displayName;
    QIcon m_icon;
};

// $XDG_DATA_HOME/Vyo/Items: pasted images, received files, uploads and quick-action results each
// live in a folder of their own there.
QString itemsDirectory();

// Creates a new folder named by a fresh upper-case UUID inside the items directory and returns its
// path; nothing (with the reason in `error`) when it cannot be created.
std::optional<QString> makeDropDirectory(QString *error = nullptr);

// The clipboard form of items, in item order: every file, link and image URL in the URI list, and
// every item as text (texts as they are, files as paths, links as URLs), one per line.
QMimeData *makeMimeData(const QList<ShelfItem> &items);

} // namespace vyo

Q_DECLARE_METATYPE(vyo::ShelfItem)
