#pragma once

// The process-wide owner of the user's watched folders: keeps the list in the "watchedFolders"
// preference, feeds it to its folder watcher, and puts each settled new file on its folder's
// shelf — the shelf that folder's files went to while it is still open, otherwise a new shelf
// named after the folder, just below the tray icon.

#include "core/Geometry.h"
#include "core/MainThread.h"
#include "logic/WatchedFolder.h"
#include "shelf/Shelf.h"
#include "watch/FolderWatcher.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <utility>

namespace vyo {

class Defaults;
class ShelfManager;

class WatchCenter : public QObject
{
    Q_OBJECT
public:
    // The single instance, made on first use over the user's preferences and the shared shelf
    // manager. Making it does not start watching: start-up hands the list to the watcher.
    static WatchCenter &shared();

    WatchCenter(Defaults &defaults, ShelfManager &manager,
                FolderWatcher::Timing timing = FolderWatcher::Timing(), QObject *parent = nullptr);

    struct Suggestion
    {
        QString title;
        QUrl folder;
    };

    // The watched folders in the order added, enabled or not.
    const QList<WatchedFolder> &folders() const { return m_folders; }
    // Replaces the list; an equal list changes nothing and notifies nobody. Does not store it.
    void setFolders(const QList<WatchedFolder> &folders);

    FolderWatcher &watcher() { return m_watcher; }

    // The shelf each folder's files went to last; it may have been closed since.
    Shelf *shelf(const QUuid &folderId) const { return m_shelves.value(folderId); }

    // Where shelves of watched folders appear: the tray icon's rectangle in screen coordinates.
    // Until start-up sets it, the empty rectangle at (0, 0).
    std::function<Rect()> anchorRect = [] { return Rect{}; };

    // Watches a folder, unless a watched folder has the same canonical path.
    void add(const QUrl &folder);
    // Stops watching the folder; its shelf stays open, detached.
    void remove(const QUuid &folderId);
    // Switches watching of the folder on or off; an unknown identifier changes nothing.
    void setEnabled(bool enabled, const QUuid &folderId);

    // The quick suggestions: "스크린샷" (the desktop's screenshot folder), then "다운로드"
    // (the XDG downloads folder).
    static QList<Suggestion> suggestions();

    // Whether a watched folder has the same canonical path as `folder`.
    bool isWatched(const QUrl &folder) const;

    // Puts a settled new file on its folder's shelf: the folder's shelf while it is open (brought
    // to the front), otherwise a new shelf named after the folder, below the anchor rectangle.
    void handleNewFile(const WatchedFolder &folder, const QUrl &file);
    // The same for several files of one folder, in one change of the shelf.
    void handleNewFiles(const WatchedFolder &folder, const QList<QUrl> &files);

Q_SIGNALS:
    void foldersChanged();

private:
    void saveAndSync();
    // The watcher's reports of one settle check arrive together; they are put on the shelves in
    // one change per folder, so that a burst of files does not rebuild a shelf per file.
    void receive(const WatchedFolder &folder, const QUrl &file);
    void placeArrivals();

    Defaults &m_defaults;
    ShelfManager &m_manager;
    QList<WatchedFolder> m_folders;
    FolderWatcher m_watcher;
    QHash<QUuid, QPointer<Shelf>> m_shelves;
    QList<std::pair<WatchedFolder, QUrl>> m_arrivals;
    Delay m_placeArrivals;
};

} // namespace vyo
