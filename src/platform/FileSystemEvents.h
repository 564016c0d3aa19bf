#pragma once

// The file-system event source of the folder watcher: changes directly inside a set of folders,
// read from inotify and coalesced in time, plus the one attribute query the watcher needs.
//
// An object of this class is used on one thread only (the thread it lives on); its signals are
// emitted there.

#include "logic/FileSystemEvent.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <optional>

class QSocketNotifier;

namespace vyo {

// The attributes of the item at `path`; nothing when it cannot be read (gone, no permission).
std::optional<FileAttributes> fileAttributes(const QString &path);

// True when `path` names a folder (following symbolic links).
bool isExistingFolder(const QString &path);

class FileSystemEvents : public QObject
{
    Q_OBJECT
public:
    struct Failure
    {
        QString folder;
        QString reason;
    };

    struct StartResult
    {
        // The folders now watched, in the given order.
        QStringList watched;
        // The folders that could not be watched, with the reason (missing, not a folder, the
        // system's limit of watches reached, …).
        QList<Failure> failed;
        // Set when nothing could be watched at all (no event source available).
        QString error;
    };

    // `latency`: events are delivered at most once per this interval, coalesced per path; the
    // first change after a quiet interval is delivered at once.
    explicit FileSystemEvents(std::chrono::milliseconds latency, QObject *parent = nullptr);
    ~FileSystemEvents() override;

    // Watches the direct contents of the folders (not their subfolders), replacing any earlier
    // watch. Events of the earlier watch that were not delivered yet are dropped.
    StartResult start(const QStringList &folders);
    // Stops watching; nothing is delivered afterwards.
    void stop();
    bool isRunning() const { return m_fd >= 0; }
    // The folders still watched (a folder that went away is no longer among them).
    QStringList watchedFolders() const;

Q_SIGNALS:
    // One batch of changes: one event per path, flags merged, in the order the paths first
    // changed.
    void eventsArrived(const QList<FileSystemEvent> &events);
    // A watched folder was deleted, moved away or unmounted; it is not watched any more.
    void folderGone(const QString &folder);
    // The system's event queue overflowed: changes were lost.
    void eventsLost();
    // A file whose name is not valid in the file-name encoding was skipped (its name as far as it
    // could be read).
    void unreadableName(const QString &name);

private:
    void readEvents();
    void flush();

    std::chrono::milliseconds m_latency;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QHash<int, QStringList>
        m_folders;       // watch descriptor → folders (one path, or more through links)
    QStringList m_order; // watched folders in the order given
    QList<FileSystemEvent> m_batch;
    QHash<QString, qsizetype> m_batchIndex;
    QSet<QByteArray> m_unreadableNames;
    // A child, so that it moves with this object to the thread that uses it.
    QTimer m_flushTimer{this};
    QElapsedTimer m_sinceFlush;
};

} // namespace vyo
