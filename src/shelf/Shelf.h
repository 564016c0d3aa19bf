#pragma once

// A shelf: an ordered collection of items plus its name, colour tag, pin, selection, a transient
// status line and a pending share request. Lives on the main thread; the shelf manager owns it.

#include "shelf/ShelfColor.h"
#include "shelf/ShelfItem.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <optional>

namespace vyo {

// How a click on a row changes the selection: plain click, Ctrl-click, Shift-click.
enum class SelectionMode { single, toggle, range };

class Shelf : public QObject
{
    Q_OBJECT
public:
    explicit Shelf(QObject *parent = nullptr);
    // A shelf with a given identifier, for shelves brought back from the state file.
    explicit Shelf(const QUuid &id, QObject *parent = nullptr);

    const QUuid &id() const { return m_id; }

    const QList<ShelfItem> &items() const { return m_items; }
    // Replaces the items and publishes the change, without `changed` (nothing worth saving).
    void setItems(const QList<ShelfItem> &items);

    const std::optional<QString> &name() const { return m_name; }
    void setName(const std::optional<QString> &name);

    ShelfColor color() const { return m_color; }
    void setColor(ShelfColor color);

    const std::optional<QUuid> &pinID() const { return m_pinID; }
    void setPinID(const std::optional<QUuid> &pinID);

    bool isDropTargeted() const { return m_isDropTargeted; }
    void setDropTargeted(bool targeted);

    const QSet<QUuid> &selection() const { return m_selection; }
    void setSelection(const QSet<QUuid> &selection);

    const std::optional<QString> &status() const { return m_status; }
    void setStatus(const std::optional<QString> &status);
    // A status of work that can be stopped ("ZIP 만드는 중… 42%"): `cancel` stops it, offered until
    // the status is set again.
    void setCancellableStatus(const QString &status, std::function<void()> cancel);
    bool isStatusCancellable() const { return bool(m_cancelStatus); }
    // Stops the work the status reports, if it can be stopped.
    void cancelStatus();

    const std::optional<QUuid> &shareRequest() const { return m_shareRequest; }
    void setShareRequest(const std::optional<QUuid> &request);

    // The anchor of Shift-click ranges.
    std::optional<QUuid> selectionAnchor;
    // Set by every path that puts dropped or pasted content on the shelf.
    bool hasReceivedDrop = false;

    // "빈 셸프", the only item's name, or the count followed by "개 항목".
    QString title() const;
    // The URLs of file and image items, in item order.
    QList<QUrl> fileURLs() const;

    // Appends the items whose content is not on the shelf yet (the first of equal ones wins).
    void add(const QList<ShelfItem> &newItems);
    // Puts `item` where the item `replaced` is, or appends it when that one is gone (or null);
    // skipped when its content is on the shelf already.
    void replace(const QUuid &replaced, const ShelfItem &item);
    void remove(const QSet<QUuid> &ids);
    void clear();
    void select(const QUuid &clicked, SelectionMode mode);
    void clearSelection();
    // Drops file and image items whose file is gone.
    void removeMissingFiles();
    // Puts every item on the clipboard, in item order.
    void copyToPasteboard() const;

Q_SIGNALS:
    // After every change worth saving: items, name, colour or pin.
    void changed();
    void itemsChanged();
    void nameChanged();
    void colorChanged();
    void pinIDChanged();
    void isDropTargetedChanged();
    void selectionChanged();
    void statusChanged();
    void shareRequestChanged();

private:
    QUuid m_id;
    QList<ShelfItem> m_items;
    std::optional<QString> m_name;
    ShelfColor m_color = ShelfColor::none;
    std::optional<QUuid> m_pinID;
    bool m_isDropTargeted = false;
    QSet<QUuid> m_selection;
    std::optional<QString> m_status;
    std::function<void()> m_cancelStatus;
    std::optional<QUuid> m_shareRequest;
};

} // namespace vyo
