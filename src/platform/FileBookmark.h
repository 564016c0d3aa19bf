#pragma once

// Finding a file again after it was renamed or moved. A bookmark is a small versioned record of
// the file's path, device, inode, birth time, size and modification time. Resolving it looks for
// the same device and inode: at the old path, then in the old folder (a rename), then in a search
// bounded in depth, entries and time over the old folder's parent tree and the user's folders.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <optional>

namespace vyo {

struct BookmarkSearchLimits
{
    int maxDepth = 3;
    int maxEntries = 20000;
    int maxMilliseconds = 300;
    // Folders searched after the old folder's parent; empty means the user's XDG folders.
    QStringList extraRoots;
    // A time shared by several resolutions (all moved files of one shelf): past it, only the old
    // path and the old folder are still looked at.
    QDeadlineTimer sharedDeadline = QDeadlineTimer(QDeadlineTimer::Forever);
};

std::optional<QByteArray> createFileBookmark(const QString &path, QString *error = nullptr);

// The path where the bookmarked file is now, or nothing when it cannot be found.
std::optional<QString> resolveFileBookmark(const QByteArray &bookmark,
                                           const BookmarkSearchLimits &limits = {});

} // namespace vyo
