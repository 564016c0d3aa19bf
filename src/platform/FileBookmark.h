#pragma once

// Finding a file again after it was renamed or moved. A bookmark is a small versioned record of
// the file's path, device, inode, birth time, size and modification time. Resolving it looks for
// the same device and inode: at the old path, then in the old folder (a rename), then in a search
// bounded in depth, entries and time over the old folder's parent tree and the user's folders.
// Both searches are bounded by the time shared by one shelf's files.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHash>
#include <QMultiHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace vyo {

// The folders already listed while looking for renamed files, their entries by device and inode.
struct BookmarkFolderListings
{
    QHash<QString, QMultiHash<std::pair<quint64, quint64>, QString>> folders;
};

struct BookmarkSearchLimits
{
    int maxDepth = 3;
    int maxEntries = 20000;
    int maxMilliseconds = 300;
    // Folders searched after the old folder's parent; empty means the user's XDG folders.
    QStringList extraRoots;
    // A time shared by several resolutions (all moved files of one shelf): past it, only the old
    // path and folders listed before are still looked at.
    QDeadlineTimer sharedDeadline = QDeadlineTimer(QDeadlineTimer::Forever);
    // Shared by copies of these limits, so that an old folder is listed once however many of its
    // files vanished.
    std::shared_ptr<BookmarkFolderListings> listings = std::make_shared<BookmarkFolderListings>();
};

std::optional<QByteArray> createFileBookmark(const QString &path, QString *error = nullptr);

// The path where the bookmarked file is now, or nothing when it cannot be found.
std::optional<QString> resolveFileBookmark(const QByteArray &bookmark,
                                           const BookmarkSearchLimits &limits = {});

} // namespace vyo
