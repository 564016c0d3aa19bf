#pragma once

// The one owner of every open shelf, of the recently closed shelves and of the pinned shelves.
// Every way of opening or closing a shelf goes through it; it saves the whole state half a second
// after the last change. Each open shelf gets a window from the window maker the application
// installs; what else follows shelves (sharing, the tray) listens to the manager's signals.

#include "core/Geometry.h"
#include "core/MainThread.h"
#include "shelf/ShelfPersistence.h"
#include "shelf/ShelfSnapshot.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUuid>

#include <functional>

namespace vyo {

class Shelf;
class ShelfWindow;

class ShelfManager : public QObject
{
    Q_OBJECT
public:
    // The process-wide manager, made on first use. Under the test harness its state file is a
    // throw-away file in the temporary folder.
    static ShelfManager &shared();

    // Makes the window of a newly opened shelf. The window belongs to the manager, which deletes
    // it after dismissing it.
    using WindowMaker = std::function<ShelfWindow *(Shelf *shelf, ShelfManager &manager)>;

    explicit ShelfManager(ShelfPersistence persistence = ShelfPersistence(),
                          WindowMaker windowMaker = {}, QObject *parent = nullptr);
    ~ShelfManager() override;

    // Shelves opened from now on get their windows from `windowMaker`.
    void setWindowMaker(WindowMaker windowMaker) { m_windowMaker = std::move(windowMaker); }

    struct Opened
    {
        Shelf *shelf;
        // Nothing when the manager has no window maker.
        ShelfWindow *window;
    };

    const QList<Shelf *> &shelves() const { return m_shelves; }
    const RecentShelves &recent() const { return m_recent; }
    const QList<ShelfSnapshot> &pinned() const { return m_pinned; }
    const QSet<QUuid> &pendingShakeShelves() const { return m_pendingShakeShelves; }
    ShelfWindow *window(const QUuid &shelfId) const;
    const ShelfPersistence &persistence() const { return m_persistence; }

    Opened newShelf();
    void close(Shelf *shelf);
    void clearAll(Shelf *shelf);
    void scheduleSave();
    void save();
    // A change waits to be saved.
    bool isSavePending() const { return m_saveTask.isPending(); }
    void pin(Shelf *shelf);
    void unpin(Shelf *shelf);
    void upsertPinned(const ShelfSnapshot &snapshot);
    bool reopen(const ShelfSnapshot &snapshot, bool evenIfEmpty);
    void openPinned(const QUuid &pinID);
    bool reopenRecent(const QUuid &snapshotId);
    bool reopenLastClosed();
    void clearRecent();
    void bringToFront(Shelf *shelf);
    void restore(const ShelfPersistence::State &state, bool reopenOpenShelves);
    void openForShake(Point pointer);
    void discardUnusedShakeShelves();

    // Presents a window beside the pointer: its left edge 24 points right of the pointer, its
    // middle at the pointer's height. Nothing happens without a window.
    static void presentBesidePointer(ShelfWindow *window, Point pointer);
    // Presents a window keeping a saved frame's top-left corner.
    static void presentAtFrame(ShelfWindow *window, const Rect &frame);
    // Presents a window centred below a rectangle (the tray icon, a drop zone), 8 points under it.
    static void presentBelow(ShelfWindow *window, const Rect &anchor);

Q_SIGNALS:
    // A shelf was opened (before its window is presented).
    void shelfOpened(Shelf *shelf);
    // A shelf is about to close; it is still on the list of open shelves.
    void shelfClosing(Shelf *shelf);
    void shelvesChanged();
    void recentChanged();
    void pinnedChanged();
    // After every write of the state file (successful or not), for tests and diagnostics.
    void saved(bool ok);

private:
    std::optional<Rect> frameOf(const Shelf *shelf) const;

    QList<Shelf *> m_shelves;
    RecentShelves m_recent;
    QList<ShelfSnapshot> m_pinned;
    WindowMaker m_windowMaker;
    QHash<QUuid, ShelfWindow *> m_windows;
    QSet<QUuid> m_pendingShakeShelves;
    ShelfPersistence m_persistence;
    Delay m_saveTask;
};

} // namespace vyo
