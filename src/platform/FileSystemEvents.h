#pragma once

// The file-system event source of the folder watcher: changes directly inside a set of folders,
// coalesced in time.
//
// An object of this interface is used on one thread only (the thread it lives on); its signals
// are emitted there.

#include "logic/FileSystemEvent.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace vyo {

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

    using QObject::QObject;

    // Which of the folders are now watched: their direct contents (not their subfolders),
    // replacing any earlier watch. Events of the earlier watch that were not delivered yet are
    // dropped.
    virtual StartResult start(const QStringList &folders) = 0;
    // Stops watching; nothing is delivered afterwards.
    virtual void stop() = 0;
    // Whether a watch is running.
    virtual bool isRunning() const = 0;
    // The folders still watched (a folder that went away is no longer among them).
    virtual QStringList watchedFolders() const = 0;

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
};

} // namespace vyo
