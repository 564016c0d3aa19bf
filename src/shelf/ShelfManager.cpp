#include "shelf/ShelfManager.h"

#include "core/Ids.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "platform/ScreenCoordinates.h"
#include "shelf/Shelf.h"
#include "shelf/ShelfWindow.h"

#include <QDir>

namespace vyo {

namespace {

constexpr int saveDelayMilliseconds = 500;
constexpr int shakeDiscardDelayMilliseconds = 300;

} // namespace

ShelfManager &ShelfManager::shared()
{
    static ShelfManager *instance = [] {
        ShelfPersistence persistence;
        if (isTestHarness())
            persistence.setFilePath(QDir::tempPath() + QStringLiteral("/VyoTests-shelves-") +
                                    uuidText(newId()) + QStringLiteral(".json"));
        return new ShelfManager(persistence);
    }();
    return *instance;
}

ShelfManager::ShelfManager(ShelfPersistence persistence, WindowMaker windowMaker, QObject *parent)
    : QObject(parent)
    , m_windowMaker(std::move(windowMaker))
    , m_persistence(std::move(persistence))
{}

ShelfManager::~ShelfManager()
{
    m_saveTask.cancel();
    qDeleteAll(m_windows);
    qDeleteAll(m_shelves);
}

ShelfWindow *ShelfManager::window(const QUuid &shelfId) const
{
    return m_windows.value(shelfId);
}

std::optional<Rect> ShelfManager::frameOf(const Shelf *shelf) const
{
    if (const ShelfWindow *window = m_windows.value(shelf->id()))
        return window->frame();
    return std::nullopt;
}

ShelfManager::Opened ShelfManager::newShelf()
{
    auto *shelf = new Shelf;
    connect(shelf, &Shelf::changed, this, &ShelfManager::scheduleSave);
    ShelfWindow *window = m_windowMaker ? m_windowMaker(shelf, *this) : nullptr;
    if (window) {
        connect(window, &ShelfWindow::moved, this, &ShelfManager::scheduleSave);
        m_windows.insert(shelf->id(), window);
    }
    m_shelves.append(shelf);
    vyoInfo(lcShelf, u"셸프 열림 (열린 셸프 %ld개)", m_shelves.size());
    Q_EMIT shelfOpened(shelf);
    Q_EMIT shelvesChanged();
    scheduleSave();
    return {shelf, window};
}

void ShelfManager::close(Shelf *shelf)
{
    // A shelf closes once: a second close (say, while its panel fades out) changes nothing.
    if (!shelf || !m_shelves.contains(shelf))
        return;
    const QUuid id = shelf->id();
    Q_EMIT shelfClosing(shelf);
    m_pendingShakeShelves.remove(id);

    ShelfWindow *window = m_windows.take(id);
    const ShelfSnapshot snapshot =
        ShelfSnapshot::from(*shelf, window ? std::optional(window->frame()) : std::nullopt,
                            QDateTime::currentDateTimeUtc());
    if (!shelf->pinID()) {
        m_recent.push(snapshot);
        Q_EMIT recentChanged();
    } else {
        upsertPinned(snapshot);
    }
    if (window) {
        window->dismiss();
        window->deleteLater();
    }

    m_shelves.removeAll(shelf);
    vyoInfo(lcShelf, u"셸프 닫힘 (열린 셸프 %ld개)", m_shelves.size());
    Q_EMIT shelvesChanged();
    disconnect(shelf, nullptr, this, nullptr);
    shelf->deleteLater();
    scheduleSave();
}

void ShelfManager::clearAll(Shelf *shelf)
{
    if (!shelf)
        return;
    m_recent.push(ShelfSnapshot::from(*shelf, frameOf(shelf), QDateTime::currentDateTimeUtc()));
    Q_EMIT recentChanged();
    shelf->clear();
}

void ShelfManager::scheduleSave()
{
    QPointer<ShelfManager> manager(this);
    m_saveTask.start(saveDelayMilliseconds, [manager] {
        if (manager)
            manager->save();
    });
}

void ShelfManager::save()
{
    m_saveTask.cancel();

    for (Shelf *shelf : std::as_const(m_shelves)) {
        if (!shelf->pinID())
            continue;
        for (ShelfSnapshot &pinned : m_pinned) {
            if (pinned.pinID == shelf->pinID()) {
                pinned = ShelfSnapshot::from(*shelf, frameOf(shelf));
                break;
            }
        }
    }

    ShelfPersistence::State state;
    for (Shelf *shelf : std::as_const(m_shelves)) {
        if (!shelf->items().isEmpty())
            state.open.append(ShelfSnapshot::from(*shelf, frameOf(shelf)));
    }
    state.recent = m_recent;
    state.pinned = m_pinned;

    QString error;
    const bool ok = m_persistence.save(state, &error);
    if (!ok)
        vyoError(lcShelf, u"셸프 저장 실패: %{public}s", error);
    Q_EMIT saved(ok);
}

void ShelfManager::pin(Shelf *shelf)
{
    if (!shelf || shelf->pinID())
        return;
    shelf->setPinID(newId());
    upsertPinned(ShelfSnapshot::from(*shelf, frameOf(shelf)));
}

void ShelfManager::unpin(Shelf *shelf)
{
    if (!shelf || !shelf->pinID())
        return;
    const QUuid pinID = *shelf->pinID();
    m_pinned.removeIf([&pinID](const ShelfSnapshot &s) { return s.pinID == pinID; });
    Q_EMIT pinnedChanged();
    shelf->setPinID(std::nullopt);
    scheduleSave();
}

void ShelfManager::upsertPinned(const ShelfSnapshot &snapshot)
{
    if (!snapshot.pinID)
        return;
    auto existing = std::find_if(m_pinned.begin(), m_pinned.end(),
                                 [&snapshot](const auto &s) { return s.pinID == snapshot.pinID; });
    if (existing != m_pinned.end())
        *existing = snapshot;
    else
        m_pinned.append(snapshot);
    Q_EMIT pinnedChanged();
    scheduleSave();
}

bool ShelfManager::reopen(const ShelfSnapshot &snapshot, bool evenIfEmpty)
{
    const QList<ShelfItem> items = resolveItems(snapshot);
    if (items.isEmpty() && !evenIfEmpty) {
        vyoInfo(lcShelf, u"다시 열 셸프의 항목이 모두 사라져 열지 않음");
        return false;
    }
    const Opened opened = newShelf();
    opened.shelf->setName(snapshot.name);
    opened.shelf->setColor(snapshot.color.value_or(ShelfColor::none));
    opened.shelf->setPinID(snapshot.pinID);
    opened.shelf->add(items);
    if (snapshot.frame)
        presentAtFrame(opened.window, *snapshot.frame);
    else
        presentBesidePointer(opened.window, pointerLocation());
    return true;
}

void ShelfManager::openPinned(const QUuid &pinID)
{
    for (Shelf *shelf : std::as_const(m_shelves)) {
        if (shelf->pinID() == pinID) {
            bringToFront(shelf);
            return;
        }
    }
    for (const ShelfSnapshot &snapshot : std::as_const(m_pinned)) {
        if (snapshot.pinID == pinID) {
            reopen(ShelfSnapshot(snapshot), true);
            return;
        }
    }
}

bool ShelfManager::reopenRecent(const QUuid &snapshotId)
{
    const std::optional<ShelfSnapshot> snapshot = m_recent.removeSnapshot(snapshotId);
    if (!snapshot)
        return false;
    Q_EMIT recentChanged();
    const bool reopened = reopen(*snapshot, false);
    scheduleSave();
    return reopened;
}

bool ShelfManager::reopenLastClosed()
{
    if (m_recent.snapshots.isEmpty())
        return false;
    return reopenRecent(m_recent.snapshots.first().id);
}

void ShelfManager::clearRecent()
{
    m_recent.snapshots.clear();
    Q_EMIT recentChanged();
    scheduleSave();
}

void ShelfManager::bringToFront(Shelf *shelf)
{
    if (!shelf)
        return;
    if (ShelfWindow *window = m_windows.value(shelf->id()))
        window->bringToFront();
}

void ShelfManager::restore(const ShelfPersistence::State &state, bool reopenOpenShelves)
{
    m_recent = state.recent;
    m_pinned = state.pinned;
    Q_EMIT recentChanged();
    Q_EMIT pinnedChanged();
    for (auto it = state.open.crbegin(); it != state.open.crend(); ++it) {
        if (reopenOpenShelves)
            reopen(*it, false);
        else
            m_recent.push(*it);
    }
    if (!reopenOpenShelves)
        Q_EMIT recentChanged();
    vyoInfo(lcShelf, u"셸프 %ld개, 최근 닫은 셸프 %ld개 복원", state.open.size(),
            state.recent.snapshots.size());
}

void ShelfManager::openForShake(Point pointer)
{
    const Opened opened = newShelf();
    m_pendingShakeShelves.insert(opened.shelf->id());
    presentBesidePointer(opened.window, pointer);
}

void ShelfManager::discardUnusedShakeShelves()
{
    const QSet<QUuid> taken = std::exchange(m_pendingShakeShelves, {});
    if (taken.isEmpty())
        return;
    callLater(this, shakeDiscardDelayMilliseconds, [this, taken] {
        const QList<Shelf *> shelves = m_shelves;
        for (Shelf *shelf : shelves) {
            if (taken.contains(shelf->id()) && !shelf->hasReceivedDrop && shelf->items().isEmpty())
                close(shelf);
        }
    });
}

void ShelfManager::presentBesidePointer(ShelfWindow *window, Point pointer)
{
    if (!window)
        return;
    const Size size = window->currentSize();
    window->present({pointer.x + 24, pointer.y - size.height / 2}, pointer);
}

void ShelfManager::presentAtFrame(ShelfWindow *window, const Rect &frame)
{
    if (!window)
        return;
    const Size size = window->currentSize();
    window->present({frame.minX(), frame.maxY() - size.height}, {frame.midX(), frame.midY()});
}

void ShelfManager::presentBelow(ShelfWindow *window, const Rect &anchor)
{
    if (!window)
        return;
    const Size size = window->currentSize();
    window->present({anchor.midX() - size.width / 2, anchor.minY() - 8 - size.height},
                    {anchor.midX(), anchor.midY()});
}

} // namespace vyo
