#pragma once

// What the folder watcher's decisions read from the file system, as plain values: one changed
// path of a batch of events, and the type and size of an item. No event source here (that is
// platform/FileSystemEvents.h), so pure logic can include it.

#include <QString>

#include <optional>

namespace vyo {

// One changed path, with what happened to it since the last batch.
struct FileSystemEvent
{
    QString path;
    bool isFile = false;   // the item is not a folder
    bool created = false;  // created in the folder
    bool renamed = false;  // given a new name in the folder or moved into it
    bool modified = false; // its contents were written
};

// The type and size of one file-system item, the item itself rather than what a symbolic link
// points to.
struct FileAttributes
{
    enum class Type { regular, directory, symbolicLink, other };
    Type type = Type::other;
    qint64 size = 0;
};

// The attributes of the item at `path`; nothing when it cannot be read (gone, no permission).
std::optional<FileAttributes> fileAttributes(const QString &path);

// True when `path` names a folder (following symbolic links).
bool isExistingFolder(const QString &path);

} // namespace vyo
