#pragma once

// The one owner of every open shelf, of the recently closed shelves and of the pinned shelves.
// Every way of opening or closing a shelf goes through it; it saves the whole state half a second
// after the last change.

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

#include <memory>

namespace vyo {

class Shelf;
class ShelfPanelController;

class ShelfManager : public QObject
{
    Q_OBJECT
public:
    // The process-wide manager, made on first use. Under the test harness its state file is a
    // throw-away file in the temporary folder.
    static ShelfManager &shared();

    explicit ShelfManager(ShelfPersistence persistence = ShelfPersistence(),
                          QObject *parent = nullptr);
    ~ShelfManager() override;

    struct Opened
    {
        Shelf *shelf;
        ShelfPanelController *controller;
    };

    const QList<Shelf *> &shelves() const { return m_shelves; }
    const RecentShelves &recent() const { return m_recent; }
    const QList<ShelfSnapshot> &pinned() const { return m_pinned; }
    const QSet<QUuid> &pendingShakeShelves() const { return m_pendingShakeShelves; }
    ShelfPanelController *controller(const QUuid &shelfId) const;
    const ShelfPersistence &persistence() const { return m_persistence; }

    Opened newShelf();
    void close(Shelf *shelf);
    void clearAll(Shelf *shelf);
    void scheduleSave();
    void save();
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

    // Presents a panel beside the pointer: its left edge 24 points right of the pointer, its
    // middle at the pointer's height.
    static void presentBesidePointer(ShelfPanelController *controller, Point pointer);
    // Presents a panel keeping a saved frame's top-left corner.
    static void presentAtFrame(ShelfPanelController *controller, const Rect &frame);
    // Presents a panel centred below a rectangle (the tray icon, a drop zone), 8 points under it.
    static void presentBelow(ShelfPanelController *controller, const Rect &anchor);

Q_SIGNALS:
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
    QHash<QUuid, ShelfPanelController *> m_controllers;
    QSet<QUuid> m_pendingShakeShelves;
    ShelfPersistence m_persistence;
    Delay m_saveTask;
};

} // namespace vyo
