#pragma once

// What the folder watcher learns of the file system: a changed path and the attributes of an
// item. Plain values, so that the watcher's decisions can be made and tested without inotify.

#include <QString>
#include <QtGlobal>

namespace vyo {

// One changed path, with what happened to it since the last batch.
struct FileSystemEvent
{
    QString path;
    bool isFile = false;   // the item is not a folder
    bool created = false;  // created in the folder
    bool renamed = false;  // given a new name in the folder or moved into it
    bool modified = false; // its contents were written
    bool closed = false;   // a program that wrote it closed it
};

// The type and size of one file-system item, the item itself rather than what a symbolic link
// points to.
struct FileAttributes
{
    enum class Type { regular, directory, symbolicLink, other };
    Type type = Type::other;
    qint64 size = 0;
};

} // namespace vyo
