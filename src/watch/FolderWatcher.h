#pragma once

// Watches a set of folders and reports each new file created, renamed or moved directly inside
// one of them, exactly once, after it has stopped growing. Downloads still arriving, hidden files,
// office lock files and files in subfolders are not reported.
//
// The events, the settle checks and all of the watcher's state live on its own worker thread;
// reports hop to the main thread, through a weak reference to the watcher.

#include "logic/WatchedFolder.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

namespace vyo {

class FileSystemEvents;
class FolderWatcherWorker;

// How quickly the folder watcher reacts and how long it remembers.
struct FolderWatchTiming
{
    // Events are coalesced over this interval.
    std::chrono::milliseconds latency{300};
    // Pending files are measured this often; two equal, non-zero sizes in a row settle one.
    std::chrono::milliseconds settleInterval{500};
    // A reported path is not reported again for at least this long.
    std::chrono::milliseconds deliveredMemory{std::chrono::seconds(60)};
};

class FolderWatcher : public QObject
{
    Q_OBJECT
public:
    using Timing = FolderWatchTiming;

    // Watches through `events` (Desktop::makeFileSystemEvents with the timing's latency), which
    // moves to the worker thread with the watcher's state.
    explicit FolderWatcher(std::unique_ptr<FileSystemEvents> events, Timing timing = Timing(),
                           QObject *parent = nullptr);
    // Stops the worker thread and the event source; no report arrives afterwards.
    ~FolderWatcher() override;

    // The report of one settled new file, called on the main thread. Set once by the owner.
    std::function<void(const WatchedFolder &folder, const QUrl &file)> onNewFile;

    // Hands over the full list of folders, enabled or not; the enabled, existing ones are
    // watched. The same paths in the same order keep the running watch and its pending files;
    // any other list restarts it and forgets pending files. Callable from any thread.
    void update(const QList<WatchedFolder> &folders);

    // Stops watching for good: the worker thread ends and later updates do nothing. Called at
    // quit for the process-wide watcher, and by the destructor.
    void stop();

Q_SIGNALS:
    // On the main thread after each update took effect: the paths now watched.
    void updated(const QStringList &watchedPaths);
    // On the main thread whenever the number of files waiting to settle changed.
    void pendingCountChanged(int count);

private:
    QThread m_thread;
    FolderWatcherWorker *m_worker = nullptr;
};

} // namespace vyo
