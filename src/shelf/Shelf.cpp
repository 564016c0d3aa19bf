#include "shelf/Shelf.h"

#include "core/Ids.h"
#include "core/Log.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <algorithm>

namespace vyo {

Shelf::Shelf(QObject *parent)
    : Shelf(newId(), parent)
{}

Shelf::Shelf(const QUuid &id, QObject *parent)
    : QObject(parent)
    , m_id(id)
{}

void Shelf::setItems(const QList<ShelfItem> &items)
{
    if (m_items == items)
        return;
    m_items = items;
    Q_EMIT itemsChanged();
}

void Shelf::setName(const std::optional<QString> &name)
{
    if (m_name == name)
        return;
    m_name = name;
    Q_EMIT nameChanged();
    Q_EMIT changed();
}

void Shelf::setColor(ShelfColor color)
{
    if (m_color == color)
        return;
    m_color = color;
    Q_EMIT colorChanged();
    Q_EMIT changed();
}

void Shelf::setPinID(const std::optional<QUuid> &pinID)
{
    if (m_pinID == pinID)
        return;
    m_pinID = pinID;
    Q_EMIT pinIDChanged();
    Q_EMIT changed();
}

void Shelf::setDropTargeted(bool targeted)
{
    if (m_isDropTargeted == targeted)
        return;
    m_isDropTargeted = targeted;
    Q_EMIT isDropTargetedChanged();
}

void Shelf::setSelection(const QSet<QUuid> &selection)
{
    if (m_selection == selection)
        return;
    m_selection = selection;
    Q_EMIT selectionChanged();
}

void Shelf::setStatus(const std::optional<QString> &status)
{
    const bool wasCancellable = isStatusCancellable();
    m_cancelStatus = nullptr;
    if (m_status == status && !wasCancellable)
        return;
    m_status = status;
    Q_EMIT statusChanged();
}

void Shelf::setCancellableStatus(const QString &status, std::function<void()> cancel)
{
    const bool wasCancellable = isStatusCancellable();
    m_cancelStatus = std::move(cancel);
    if (m_status == status && wasCancellable == isStatusCancellable())
        return;
    m_status = status;
    Q_EMIT statusChanged();
}

void Shelf::cancelStatus()
{
    // The work reports its end itself; the cancel is offered once.
    if (auto cancel = std::exchange(m_cancelStatus, nullptr)) {
        Q_EMIT statusChanged();
        cancel();
    }
}

void Shelf::setShareRequest(const std::optional<QUuid> &request)
{
    if (m_shareRequest == request)
        return;
    m_shareRequest = request;
    Q_EMIT shareRequestChanged();
}

QString Shelf::title() const
{
    if (m_items.isEmpty())
        return QStringLiteral("빈 셸프");
    if (m_items.size() == 1)
        return m_items.first().displayName();
    return QString::number(m_items.size()) + QStringLiteral("개 항목");
}

QList<QUrl> Shelf::fileURLs() const
{
    QList<QUrl> urls;
    for (const ShelfItem &item : m_items) {
        if (item.content().isFileBacked())
            urls.append(item.content().url());
    }
    return urls;
}

void Shelf::add(const QList<ShelfItem> &newItems)
{
    QSet<ShelfItem::Content> contents;
    for (const ShelfItem &item : m_items)
        contents.insert(item.content());
    QList<ShelfItem> items = m_items;
    for (const ShelfItem &item : newItems) {
        if (contents.contains(item.content()))
            continue;
        contents.insert(item.content());
        items.append(item);
    }
    if (items.size() == m_items.size())
        return;
    setItems(items);
    Q_EMIT changed();
}

void Shelf::replace(const QUuid &replaced, const ShelfItem &item)
{
    const auto existing =
        std::find_if(m_items.cbegin(), m_items.cend(),
                     [&item](const ShelfItem &other) { return other.content() == item.content(); });
    const auto place =
        std::find_if(m_items.cbegin(), m_items.cend(), [&replaced](const ShelfItem &other) {
            return !replaced.isNull() && other.id() == replaced;
        });
    if (existing != m_items.cend() || place == m_items.cend()) {
        add({item});
        return;
    }
    QList<ShelfItem> items = m_items;
    items[place - m_items.cbegin()] = item;
    setItems(items);
    setSelection(m_selection - QSet<QUuid>{replaced});
    Q_EMIT changed();
}

void Shelf::remove(const QSet<QUuid> &ids)
{
    const qsizetype before = m_items.size();
    QList<ShelfItem> items = m_items;
    items.removeIf([&ids](const ShelfItem &item) { return ids.contains(item.id()); });
    setItems(items);
    setSelection(m_selection - ids);
    if (m_items.size() != before)
        Q_EMIT changed();
}

void Shelf::clear()
{
    if (m_items.isEmpty())
        return;
    setItems({});
    clearSelection();
    Q_EMIT changed();
}

void Shelf::select(const QUuid &clicked, SelectionMode mode)
{
    QSet<QUuid> selection;
    switch (mode) {
    case SelectionMode::single:
        selection = {clicked};
        break;
    case SelectionMode::toggle:
        selection = m_selection;
        if (selection.contains(clicked))
            selection.remove(clicked);
        else
            selection.insert(clicked);
        break;
    case SelectionMode::range: {
        const auto indexOf = [this](const QUuid &id) {
            for (qsizetype i = 0; i < m_items.size(); ++i) {
                if (m_items[i].id() == id)
                    return i;
            }
            return qsizetype(-1);
        };
        const qsizetype anchor = selectionAnchor ? indexOf(*selectionAnchor) : -1;
        const qsizetype target = indexOf(clicked);
        if (anchor >= 0 && target >= 0) {
            for (qsizetype i = std::min(anchor, target); i <= std::max(anchor, target); ++i)
                selection.insert(m_items[i].id());
        } else {
            selection = {clicked};
        }
        break;
    }
    }
    setSelection(selection);
    if (mode != SelectionMode::range || !selectionAnchor)
        selectionAnchor = clicked;
}

void Shelf::clearSelection()
{
    setSelection({});
    selectionAnchor.reset();
}

void Shelf::removeMissingFiles()
{
    QSet<QUuid> missing;
    for (const ShelfItem &item : m_items) {
        if (!item.exists())
            missing.insert(item.id());
    }
    if (missing.isEmpty())
        return;
    vyoInfo(lcShelf, u"사라진 파일 %ld개를 셸프에서 제거", missing.size());
    remove(missing);
}

void Shelf::copyToPasteboard() const
{
    if (m_items.isEmpty())
        return;
    QGuiApplication::clipboard()->setMimeData(makeMimeData(m_items));
}

} // namespace vyo
