#pragma once

// The folder watcher's decisions, as plain code over paths, sizes and times: which events make a
// file pending, when a pending file has settled, and which files were reported recently. The
// watcher runs it on its worker thread; the event source and the attribute query come from the
// platform layer.

#include "platform/FileSystemEvent.h"
#include "watch/WatchedFolder.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace vyo {

class FolderWatchState
{
public:
    using Clock = std::chrono::steady_clock;

    struct Pending
    {
        WatchedFolder folder;
        // The size measured at the last settle check; absent until measured.
        std::optional<qint64> size;
        // Arrival order, so that files settling together are reported in the order they came.
        quint64 order = 0;
    };

    struct Report
    {
        WatchedFolder folder;
        QString path;
    };

    using AttributesQuery = std::function<std::optional<FileAttributes>(const QString &)>;

    // `deliveredMemory`: how long a reported path stays blocked from being reported again.
    explicit FolderWatchState(std::chrono::milliseconds deliveredMemory = std::chrono::seconds(60));

    // Extensions of files still being written by a download or an application, lower-case.
    static const QSet<QString> &partialDownloadExtensions();
    // Whether a file of this name is never reported: hidden files, office lock files ("~$…") and
    // partial downloads.
    static bool isIgnoredName(const QString &name);

    // The given folders that are enabled and exist as folders, in the given order.
    static QList<WatchedFolder> activeFolders(const QList<WatchedFolder> &folders,
                                              const std::function<bool(const QString &)> &isFolder);

    // Takes the active folders. When their paths are the watched paths in the same order, only the
    // folders' identifiers and flags are taken over and false is answered. Otherwise the event
    // source must restart: the pending files are forgotten and true is answered.
    bool update(const QList<WatchedFolder> &active);
    // Keeps only the folders whose path is among `paths` (the ones the event source could watch).
    void retainFolders(const QStringList &paths);
    // Forgets a folder that went away, and its pending files; true when it was watched.
    bool removeFolder(const QString &path);

    // Takes one event. True when it made a file pending.
    bool handle(const FileSystemEvent &event, Clock::time_point now);
    // Measures every pending file once: answers those that settled (two equal, non-zero sizes in a
    // row), drops those that are gone or are not regular files, and forgets reports older than the
    // delivered memory.
    QList<Report> settleCheck(const AttributesQuery &attributes, Clock::time_point now);

    const QList<WatchedFolder> &folders() const { return m_folders; }
    QStringList folderPaths() const;
    const QHash<QString, Pending> &pending() const { return m_pending; }
    const QHash<QString, Clock::time_point> &delivered() const { return m_delivered; }
    std::chrono::milliseconds deliveredMemory() const { return m_deliveredMemory; }

private:
    // The first watched folder whose canonical path is the file's folder's canonical path.
    const WatchedFolder *folderOf(const QString &filePath);

    std::chrono::milliseconds m_deliveredMemory;
    QList<WatchedFolder> m_folders;
    QStringList m_canonicalFolders; // parallel to m_folders
    QHash<QString, QString> m_canonicalParents;
    QHash<QString, Pending> m_pending;
    QHash<QString, Clock::time_point> m_delivered;
    quint64 m_nextOrder = 0;
};

} // namespace vyo
